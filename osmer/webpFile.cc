// WebP files: a RIFF file of form WEBP.  Only the extended layout (its
// first chunk VP8X) carries metadata; the EXIF block is the data of its
// EXIF chunk, which writers put after the image data.
//
// The chunks are walked by their headers (type, little-endian length, data
// padded to an even length) inside the RIFF container; chunk data is never
// read.  Every chunk takes at least 8 bytes, so the walk's steps are
// bounded by the file's size and each reads one header.
#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint32_t VP8X = 0x56503858, EXIF = 0x45584946;
constexpr uint64_t riffHeader = 12;  // "RIFF", its length, "WEBP"
const char* const container = "WebP file";

}  // namespace

bool isWebp(const byteReader& head) {
  return head.startsWith(0, "RIFF", 4) && head.startsWith(8, "WEBP", 4);
}

exifLocation locateInWebp(fileImage& image) {
  byteReader file = image.reader();
  file.setBigEndian(false);
  const exifFormat webp = exifFormat::webp;
  uint32_t riffLength = 0;
  file.u32At(4, riffLength);
  // The container's end as it declares it; its chunks must lie inside it.
  const uint64_t riffEnd = 8 + uint64_t(riffLength);
  for (uint64_t at = riffHeader; at < riffEnd; ) {
    uint32_t type = 0, length = 0;
    if (!file.has(at, 8)) {
      if (at == file.size()) return truncated(webp, "the RIFF container" + atOffset(0) + " runs past the end of the file");
      return truncated(webp, "the WebP chunk header" + atOffset(at) + " runs past the end of the file");
    }
    file.setBigEndian(true);
    file.u32At(at, type);
    file.setBigEndian(false);
    file.u32At(at + 4, length);
    const std::string chunk = "WebP chunk " + fourcc(type) + atOffset(at);
    // Only an extended file carries metadata.
    if (at == riffHeader && type != VP8X) return noExif(webp);
    const uint64_t end = at + 8 + length + (length & 1);
    if (at + 8 + length > file.size()) return truncated(webp, chunk + " runs past the end of the file");
    if (at + 8 + length > riffEnd)
      return damaged(webp, container, chunk + " runs past the end of its RIFF container");
    if (type == EXIF) return foundInChunk(webp, file, at + 8, length);
    at = end;
  }
  return noExif(webp);
}

}  // namespace containers
