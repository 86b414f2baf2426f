#include "exifHeader.h"

#include "markerScanner.h"

namespace {
// Marker (2), length field (2), then the identifier "Exif\0\0" (6).
constexpr size_t identifierAt = 4;
constexpr size_t tiffAt = 10;
const char identifier[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
}  // namespace

exifHeader::exifHeader(jfif& file) : j_file(file) {
  if (file.err()) return;
  markerScanner scan(file.image());
  jfif_marker m;
  bool anyMarker = false;
  while (scan.next(m)) {
    anyMarker = true;
    if (m.type() == jfif_marker::jm_sos || m.type() == jfif_marker::jm_eoi) break;
    if (m.type() != jfif_marker::jm_app1) continue;
    byteReader segment(m.data(), m.len());
    if (!segment.startsWith(identifierAt, identifier, sizeof identifier)) continue;
    segment.sub(tiffAt, m.len() - tiffAt, j_block);
    j_blockOffset = static_cast<size_t>(m.offset()) + tiffAt;
    j_found = true;
    return;
  }
  if (anyMarker) j_damage = scan.damage();
}
