// Minolta MRW files: "\0MRM", the big-endian 32-bit length of the header
// blocks that follow, then the blocks (a 4-byte name, a big-endian 32-bit
// length, the data): "\0PRD", "\0TTW", "\0WBG", "\0RIF", ...  The EXIF block
// is TTW's data, a TIFF structure (IFD0 and its Exif IFD) whose offsets
// count from its own header.  Every block takes at least 8 bytes of the
// header blocks, so the walk is bounded by them.
#include "containerFormats.h"
#include "damageText.h"

namespace containers {

namespace {

constexpr uint32_t ttw = 0x00545457;  // "\0TTW"
const char* const container = "MRW file";

}  // namespace

bool isMrw(const byteReader& head) { return head.startsWith(0, "\0MRM", 4); }

exifLocation locateInMrw(fileImage& image) {
  const exifFormat mrw = exifFormat::mrw;
  cursor file(image.reader(), 4);
  const uint32_t length = file.u32be();
  cursor blocks = file.sub(length);
  if (!file) return failed(mrw, damageText::truncated("the MRW header blocks at offset 8 run past the end of the file"));
  while (!blocks.atEnd()) {
    const uint64_t at = blocks.fileOffset();
    const uint32_t name = blocks.fourcc();
    const uint32_t size = blocks.u32be();
    cursor data = blocks.sub(size);
    if (!blocks)
      return failed(mrw, damageText::damagedIn(container, "the block " + damageText::fourccText(name) +
                                                                  damageText::atOffset(at) + " runs past the header blocks"));
    if (name == ttw) return foundAt(mrw, data.fileOffset(), size);
  }
  return noExif(mrw);
}

}  // namespace containers
