#include "exifHeader.h"

namespace {
// Marker (2), length field (2), then the identifier "Exif\0\0" (6).
constexpr size_t identifierAt = 4;
constexpr size_t tiffAt = 10;
const char identifier[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
const std::optional<misc_error> noDamage;
}  // namespace

exifHeader::exifHeader(jfif& file) : j_file(file) {
  if (file.err()) return;
  markerScanner& walk = file.walk();
  walk.restart();
  jfif_marker m;
  bool anyMarker = false;
  while (walk.next(m)) {
    anyMarker = true;
    if (m.type() == jfif_marker::jm_sos || m.type() == jfif_marker::jm_eoi) return;
    if (m.type() != jfif_marker::jm_app1) continue;
    const size_t at = static_cast<size_t>(m.offset());
    const byteReader segment = file.image().reader(at, m.len());
    if (!segment.startsWith(identifierAt, identifier, sizeof identifier)) continue;
    segment.sub(tiffAt, m.len() - tiffAt, j_block);
    j_blockOffset = at + tiffAt;
    j_found = true;
    return;
  }
  j_damaged = anyMarker && walk.damage();
}

const std::optional<misc_error>& exifHeader::damage() const {
  return j_damaged ? j_file.walk().damage() : noDamage;
}
