// PNG files (ISO/IEC 15948): the EXIF block is the data of the eXIf chunk,
// which may stand before or after the image data.
//
// The chunks are walked by their headers from the signature to eXIf or IEND
// (chunkWalker); chunk data is never read, CRCs are not checked.  At the
// first image data chunk the walk goes on after the image data, where the
// chunks that follow it can be found from the end of the file (pngTail.cc):
// the image data chunks, which may number hundreds, are then never read.
// Where they cannot, the walk goes on through them, a page per chunk.
#include "chunkWalker.h"
#include "containerFormats.h"

namespace containers {

namespace {

const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

exifLocation walk(fileImage& image, uint64_t from, bool jumpImageData) {
  const exifFormat png = exifFormat::png;
  chunkWalker chunks(image.reader(), chunkFamily::png, "PNG file", from);
  for (const chunk& c : chunks) {
    if (c.type == fourcc("IEND")) return noExif(png);
    if (c.type == fourcc("eXIf")) return foundInChunk(png, chunks.file(), c.data, c.size);
    uint64_t after = 0;
    if (c.type == fourcc("IDAT") && jumpImageData && chunksAfterImageData(chunks.file(), c.start, after))
      return walk(image, after, false);
  }
  if (chunks.damage()) return failed(png, *chunks.damage());
  return truncated(png, "the PNG file ends" + atOffset(image.size()) + " before its IEND chunk");
}

}  // namespace

bool isPng(const byteReader& head) { return head.startsWith(0, signature, sizeof signature); }

exifLocation locateInPng(fileImage& image) { return walk(image, sizeof signature, true); }

}  // namespace containers
