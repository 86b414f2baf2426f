// PNG files (ISO/IEC 15948): the EXIF block is the data of the eXIf chunk,
// which may stand before or after the image data.
//
// The chunks are walked by their headers from the signature to eXIf or IEND
// (chunkWalker); chunk data is never read, CRCs are not checked.  (An eXIf
// after many image data chunks costs a page per chunk.)
#include "chunkWalker.h"
#include "containerFormats.h"

namespace containers {

namespace {

const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool isPng(const byteReader& head) { return head.startsWith(0, signature, sizeof signature); }

exifLocation locateInPng(fileImage& image) {
  const exifFormat png = exifFormat::png;
  chunkWalker chunks(image.reader(), chunkFamily::png, "PNG file", sizeof signature);
  for (const chunk& c : chunks) {
    if (c.type == fourcc("IEND")) return noExif(png);
    if (c.type == fourcc("eXIf")) return foundInChunk(png, chunks.file(), c.data, c.size);
  }
  if (chunks.damage()) return failed(png, *chunks.damage());
  return truncated(png, "the PNG file ends" + atOffset(image.size()) + " before its IEND chunk");
}

}  // namespace containers
