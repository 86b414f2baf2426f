// TIFF files and the raw formats built on TIFF's structure: the file is the
// EXIF block, its TIFF header at offset 0.
//
// Besides TIFF's own header ("II*\0", "MM\0*": TIFF, DNG and most cameras'
// raw files), some raw formats put their own magic number after the
// byte-order mark and otherwise keep TIFF's directories: "IIRO", "IIRS" and
// "MMOR" (0x4F52 in either byte order) and "IIU\0" (0x0055).
#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint16_t tiffMagic = 42;
const uint16_t rawMagics[] = {0x4F52, 0x5352, 0x0055};

constexpr uint16_t exifPointer = 0x8769;
constexpr uint16_t dateTimeOriginal = 0x9003;
constexpr uint64_t entrySize = 12;

// The magic number after a byte-order mark, or 0.
uint16_t magicOf(byteReader head) {
  uint8_t b0 = 0, b1 = 0;
  if (!head.u8At(0, b0) || !head.u8At(1, b1) || b0 != b1 || (b0 != 'I' && b0 != 'M')) return 0;
  head.setBigEndian(b0 == 'M');
  uint16_t magic = 0;
  if (!head.u16At(2, magic) || !head.has(0, 8)) return 0;
  if (magic == tiffMagic) return magic;
  for (uint16_t raw : rawMagics)
    if (magic == raw) return magic;
  return 0;
}

// True when IFD0 has an Exif IFD pointer or a DateTimeOriginal entry.  The
// table is looked at as far as it lies in the file (at most 65535 entries
// of 12 bytes).
bool ifd0HasExif(const byteReader& file, uint32_t ifd0, uint16_t count) {
  for (uint64_t i = 0, at = uint64_t(ifd0) + 2; i < count; ++i, at += entrySize) {
    uint16_t tag = 0;
    if (!file.u16At(at, tag)) return false;
    if (tag == exifPointer || tag == dateTimeOriginal) return true;
  }
  return false;
}

}  // namespace

bool isTiff(const byteReader& head) { return magicOf(head) != 0; }

// The block is the whole file, read sparsely by the EXIF parser.  A file
// whose IFD0 names neither an Exif IFD nor a DateTimeOriginal of its own
// (a plain scanned or rendered TIFF) has no EXIF data.  An IFD0 that lies
// outside the file is left to the parser, which says where.
exifLocation locateInTiff(fileImage& image) {
  byteReader file = image.reader();
  const uint16_t magic = magicOf(file);
  uint8_t order = 0;
  file.u8At(0, order);
  file.setBigEndian(order == 'M');
  uint32_t ifd0 = 0;
  file.u32At(4, ifd0);
  exifLocation l = foundAt(exifFormat::tiff, 0, image.size());
  l.tiffMagic = magic;
  uint16_t count = 0;
  if (ifd0 < 8 || !file.u16At(ifd0, count)) return l;
  if (ifd0HasExif(file, ifd0, count)) return l;
  return noExif(exifFormat::tiff);
}

}  // namespace containers
