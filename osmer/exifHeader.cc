#include "exifHeader.h"

#include "markerScanner.h"

namespace {
// The segment's payload: the identifier "Exif\0\0", then the TIFF data.
const char identifier[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
}  // namespace

exifHeader::exifHeader(jfif& file) : j_file(file) {
  if (file.err()) return;
  // A walk of its own: the file's listing walk stays where it is.
  markerScanner walk(file.image());
  jfif_marker m;
  bool anyMarker = false;
  while (walk.next(m)) {
    anyMarker = true;
    if (m.type() == jfif_marker::jm_sos || m.type() == jfif_marker::jm_eoi) return;
    if (m.type() != jfif_marker::jm_app1) continue;
    const size_t at = static_cast<size_t>(m.offset()) + jfif_marker::headerSize;
    const byteReader payload = file.image().reader(at, m.payloadSize());
    if (!payload.startsWith(0, identifier, sizeof identifier)) continue;
    payload.sub(sizeof identifier, payload.size() - sizeof identifier, j_block);
    j_blockOffset = at + sizeof identifier;
    j_found = true;
    return;
  }
  if (anyMarker) j_damage = walk.damage();
}
