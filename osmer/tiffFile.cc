// TIFF files and the raw formats built on TIFF's structure: the file is the
// EXIF block, its TIFF header at offset 0.
//
// Besides TIFF's own header ("II*\0", "MM\0*": TIFF, DNG and most cameras'
// raw files), some raw formats put their own magic number after the
// byte-order mark and otherwise keep TIFF's directories: "IIRO", "IIRS" and
// "MMOR" (0x4F52 in either byte order) and "IIU\0" (0x0055).
#include "containerFormats.h"
#include "tiff.h"

namespace containers {

namespace {

const uint16_t rawMagics[] = {0x4F52, 0x5352, 0x0055};

// The magic number after a byte-order mark, or 0.
uint16_t magicOf(byteReader head) {
  cursor c(head);
  const uint8_t b0 = c.u8(), b1 = c.u8();
  if (!c || b0 != b1 || (b0 != 'I' && b0 != 'M')) return 0;
  head.setBigEndian(b0 == 'M');
  const uint16_t magic = cursor(head, 2).u16();
  if (!head.has(0, tiff::headerSize)) return 0;
  if (magic == tiff::magic) return magic;
  for (uint16_t raw : rawMagics)
    if (magic == raw) return magic;
  return 0;
}

// True when the directory has an Exif IFD pointer or a DateTimeOriginal
// entry of its own.
bool namesExif(const tiff::directory& dir) {
  for (uint32_t i = 0; i < dir.room(); ++i) {
    const uint16_t tag = dir.at(i).tag;
    if (tag == tiff::exifPointer || tag == tiff::dateTimeOriginal) return true;
  }
  return false;
}

}  // namespace

bool isTiff(const byteReader& head) { return magicOf(head) != 0; }

// The block is the whole file, read sparsely by the EXIF parser.  A file
// whose IFD0 and IFD1 name neither an Exif IFD nor a DateTimeOriginal of
// their own (a plain scanned or rendered TIFF) has no EXIF data.  An IFD0
// that lies outside the file is left to the parser, which says where.
exifLocation locateInTiff(fileImage& image) {
  byteReader file = image.reader();
  const uint16_t magic = magicOf(file);
  cursor header(file);
  file.setBigEndian(header.u8() == 'M');
  const uint32_t ifd0 = cursor(file, 4).u32();
  exifLocation l = foundAt(exifFormat::tiff, 0, image.size());
  l.tiffMagic = magic;
  tiff::directory dir;
  if (!dir.open(file, ifd0) || namesExif(dir)) return l;
  const uint32_t ifd1 = dir.next();
  if (ifd1 != ifd0 && dir.open(file, ifd1) && namesExif(dir)) return l;
  return noExif(exifFormat::tiff);
}

}  // namespace containers
