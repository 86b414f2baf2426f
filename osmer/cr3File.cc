// Canon CR3 files: an ISO base media file of brand "crx " whose moov box
// holds a uuid box (85c0b687-820f-11e0-8111-f4ce462b6a48) with four TIFF
// structures, each with its own byte-order header, offsets counting from
// it: CMT1 (IFD0), CMT2 (the Exif IFD, as its first directory: the capture
// time), CMT3 (the maker notes) and CMT4 (GPS).  The EXIF block is CMT2.
#include <cstring>

#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint32_t uuidType = fourcc("uuid"), cmt2 = fourcc("CMT2");
const unsigned char canonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                     0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};

}  // namespace

exifLocation locateInCr3(const chunkWalker& top, const chunk& moov) {
  const exifFormat cr3 = exifFormat::cr3;
  chunkWalker children = chunkWalker(top.file(), chunkFamily::isoBmff, "CR3 file").children(moov);
  for (const chunk& c : children) {
    if (c.type != uuidType || std::memcmp(c.uuid, canonUuid, sizeof canonUuid) != 0) continue;
    chunkWalker structures = children.children(c);
    for (const chunk& s : structures)
      if (s.type == cmt2) return foundAt(cr3, s.data, s.size);
    if (structures.damage()) return failed(cr3, *structures.damage());
    return noExif(cr3);
  }
  if (children.damage()) return failed(cr3, *children.damage());
  return noExif(cr3);
}

}  // namespace containers
