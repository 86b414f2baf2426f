// Fujifilm RAF files: "FUJIFILMCCD-RAW " at offset 0; at offset 84 the
// big-endian 32-bit offset of the embedded JPEG, at 88 its length.  The
// EXIF block is that JPEG's EXIF APP1 segment, found by walking its
// segments up to the first scan, inside the JPEG's span.
#include "containerFormats.h"
#include "damageText.h"

namespace containers {

namespace {

const char* const container = "RAF file";
const unsigned char soi[2] = {0xFF, 0xD8};
const unsigned char exifIdentifier[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint8_t sos = 0xDA, eoi = 0xD9, app1 = 0xE1;

// Markers without a length: TEM and RST0 to RST7.
bool standalone(uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD7); }

}  // namespace

bool isRaf(const byteReader& head) { return head.startsWith(0, "FUJIFILMCCD-RAW ", 16); }

exifLocation locateInRaf(fileImage& image) {
  const exifFormat raf = exifFormat::raf;
  const byteReader file = image.reader();
  cursor header(file, 84);
  const uint32_t jpegAt = header.u32be(), jpegLength = header.u32be();
  if (!header) return failed(raf, damageText::truncated("the RAF header runs past the end of the file"));
  cursor jpeg = cursor(file, jpegAt).sub(jpegLength);
  const std::string embedded = "the embedded JPEG" + damageText::atOffset(jpegAt);
  if (!jpeg) return failed(raf, damageText::truncated(embedded + " runs past the end of the file"));
  if (!jpeg.skipIf(soi, sizeof soi))
    return failed(raf, damageText::damagedIn(container, embedded + " does not begin with SOI"));
  // Each segment takes at least two bytes of the span: the walk is bounded by it.
  while (!jpeg.atEnd()) {
    const uint64_t at = jpeg.fileOffset();
    uint8_t code = jpeg.u8();
    if (code != 0xFF)
      return failed(raf, damageText::damagedIn(container, "no marker" + damageText::atOffset(at) + " in " + embedded));
    do code = jpeg.u8();
    while (jpeg && code == 0xFF);  // fill bytes
    if (!jpeg || code == sos || code == eoi) break;
    if (standalone(code)) continue;
    const uint16_t length = jpeg.u16be();
    cursor payload = jpeg.sub(length >= 2 ? length - 2 : 0);
    if (!jpeg || length < 2)
      return failed(raf, damageText::damagedIn(container, "the segment" + damageText::atOffset(at) +
                                                                  " runs past the end of " + embedded));
    if (code == app1 && payload.skipIf(exifIdentifier, sizeof exifIdentifier))
      return foundAt(raf, payload.fileOffset(), payload.left());
  }
  return noExif(raf);
}

}  // namespace containers
