// WebP files: a RIFF file of form WEBP.  Only the extended layout (its
// first chunk VP8X) carries metadata; the EXIF block is the data of its
// EXIF chunk, which writers put after the image data.
//
// The chunks are walked by their headers inside the RIFF container
// (chunkWalker); chunk data is never read.
#include "chunkWalker.h"
#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint64_t riffHeader = 12;  // "RIFF", its length, "WEBP"
const char* const container = "WebP file";

}  // namespace

bool isWebp(const byteReader& head) {
  cursor c(head);
  const uint32_t riff = c.fourcc();
  c.skip(4);  // the length
  return riff == fourcc("RIFF") && c.fourcc() == fourcc("WEBP") && c;
}

exifLocation locateInWebp(fileImage& image) {
  const byteReader file = image.reader();
  const exifFormat webp = exifFormat::webp;
  cursor header(file, 4);
  const uint32_t riffLength = header.u32le();
  // Only an extended file carries metadata.
  cursor first(file, riffHeader);
  const uint32_t firstType = first.fourcc();
  first.skip(4);
  if (first && firstType != fourcc("VP8X")) return noExif(webp);
  // A container too short for any chunk, though an extended file's chunks
  // follow: its length is wrong, and where the EXIF chunk ends is unknown.
  if (first && 8 + uint64_t(riffLength) <= riffHeader)
    return damaged(webp, container, "the RIFF container" + atOffset(0) + " declares a length of " +
                                        std::to_string(riffLength) + ", too short for a chunk");
  // The container's end as it declares it; its chunks must lie inside it.
  chunkWalker chunks(file, chunkFamily::riff, container, riffHeader, 8 + uint64_t(riffLength));
  for (const chunk& c : chunks)
    if (c.type == fourcc("EXIF")) return foundInChunk(webp, file, c.data, c.size);
  if (chunks.damage()) return failed(webp, *chunks.damage());
  return noExif(webp);
}

}  // namespace containers
