// PNG files (ISO/IEC 15948): the EXIF block is the data of the eXIf chunk,
// which may stand before or after the image data.
//
// The chunks are walked by their headers (length, type) from the signature
// to eXIf or IEND; chunk data is never read, CRCs are not checked.  The walk
// has no count of its own to cap: every chunk takes at least 12 bytes of the
// file, so its steps are bounded by the file's size and each reads one
// header.  At the first image data chunk the walk goes on after the image
// data where the chunks that follow it can be found from the end of the
// file (pngTail.cc); the image data chunks are then never read.
#include "containerFormats.h"

namespace containers {

namespace {

const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t eXIf = 0x65584966, IEND = 0x49454E44, IDAT = 0x49444154;
constexpr uint32_t largestLength = 0x7FFFFFFF;  // PNG's limit on a chunk's length
const char* const container = "PNG file";

bool isLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isChunkType(uint32_t type) {
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!isLetter(static_cast<uint8_t>(type >> shift))) return false;
  return true;
}

}  // namespace

bool isPng(const byteReader& head) { return head.startsWith(0, signature, sizeof signature); }

exifLocation locateInPng(fileImage& image) {
  const byteReader file = image.reader();
  const exifFormat png = exifFormat::png;
  bool imageData = false;
  for (uint64_t at = sizeof signature;;) {
    uint32_t length = 0, type = 0;
    if (!file.has(at, 8)) {
      if (at == file.size()) return truncated(png, "the PNG file ends" + atOffset(at) + " before its IEND chunk");
      return truncated(png, "the PNG chunk header" + atOffset(at) + " runs past the end of the file");
    }
    file.u32At(at, length);
    file.u32At(at + 4, type);
    if (!isChunkType(type))
      return damaged(png, container, "the chunk" + atOffset(at) + " has no valid type (" + fourcc(type) + ")");
    const std::string chunk = "PNG chunk " + fourcc(type) + atOffset(at);
    if (length > largestLength)
      return damaged(png, container, chunk + " declares " + std::to_string(length) + " bytes of data");
    // The data and the CRC must lie in the file; of IEND only the header.
    const uint64_t end = at + 12 + length;
    if (type == IEND) return noExif(png);
    if (end > file.size()) return truncated(png, chunk + " runs past the end of the file");
    if (type == eXIf) return foundInChunk(png, file, at + 8, length);
    uint64_t after = 0;
    if (type == IDAT && !imageData && chunksAfterImageData(file, at, after)) {
      imageData = true;
      at = after;
      continue;
    }
    imageData = imageData || type == IDAT;
    at = end;
  }
}

}  // namespace containers
