#include "exifHeader.h"

#include <utility>

#include "jpegHeader.h"
#include "markerScanner.h"

namespace {
// The segment's payload: the identifier "Exif\0\0", then the TIFF data.
const char identifier[6] = {'E', 'x', 'i', 'f', '\0', '\0'};
}  // namespace

exifHeader::exifHeader(jfif& file) : j_file(file) { findInJpeg(); }

exifHeader::exifHeader(jfif& file, anyFormat_t) : j_file(file) {
  if (file.err()) return;
  static const unsigned char soi[2] = {0xFF, 0xD8};
  // A JPEG file never reaches the locator.
  if (file.image().reader(0, 2).startsWith(0, soi, 2)) {
    findInJpeg();
    return;
  }
  exifLocation where = locateExif(file.image());
  if (where.format == exifFormat::unknown)
    findInJpeg();
  else
    take(where);
}

void exifHeader::findInJpeg() {
  jfif& file = j_file;
  if (file.err()) return;
  // An SOI marker that no marker follows: no JPEG file, though it starts as one.
  static const unsigned char soi[2] = {0xFF, 0xD8};
  if (file.image().reader(0, 2).startsWith(0, soi, 2) && !jpegHeader(file).wellFormed()) {
    j_damage = jpegHeader::notJpegOrExif();
    return;
  }
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

// A block in one span is a view of the image, read as it is looked at.  A
// block in several is copied into one buffer; the locator has checked that
// together they are no larger than the file, nor than 16 MiB.
void exifHeader::take(exifLocation& where) {
  j_format = where.format;
  j_magic = where.tiffMagic;
  j_damage = std::move(where.damage);
  j_recorded = std::move(where.time);
  if (!where.found()) return;
  fileImage& image = j_file.image();
  // The spans lay inside the file when the locator looked; a read since
  // may have found the file shorter.
  for (const filePiece& p : where.pieces) image.requireSize(p.offset + p.length);
  const filePiece first = where.pieces.front();
  j_blockOffset = static_cast<size_t>(first.offset);
  if (where.pieces.size() == 1) {
    j_block = image.reader(j_blockOffset, static_cast<size_t>(first.length));
  } else {
    uint64_t total = 0;
    for (const filePiece& p : where.pieces) total += p.length;
    j_joined.resize(static_cast<size_t>(total));
    size_t at = 0;
    const byteReader bytes = image.reader();
    for (const filePiece& p : where.pieces) {
      bytes.copyAt(p.offset, j_joined.data() + at, p.length);
      at += static_cast<size_t>(p.length);
    }
    j_block = byteReader(j_joined.data(), j_joined.size());
    j_pieces = std::move(where.pieces);
  }
  j_found = true;
}

uint64_t exifHeader::fileOffset(uint64_t pos) const {
  for (const filePiece& p : j_pieces) {
    if (pos < p.length) return p.offset + pos;
    pos -= p.length;
  }
  // Past the block, or a block of one span: as if it went on.
  if (!j_pieces.empty()) return j_pieces.back().offset + j_pieces.back().length + pos;
  return j_blockOffset + pos;
}
