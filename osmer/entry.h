// entry: one 12-byte IFD entry as read from the EXIF block.
#ifndef ORVANE_OSMER_ENTRY_H
#define ORVANE_OSMER_ENTRY_H

#include <cstdint>

class entry {
 public:
  entry() = default;
  entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t offsetOffset, uint32_t offset)
      : f_tag(tag), f_type(type), f_count(count), f_offset_offset(offsetOffset), f_offset(offset) {}

  unsigned short tag() const { return f_tag; }
  unsigned short type() const { return f_type; }
  uint32_t count() const { return f_count; }
  // Block position of the entry's 4-byte value field.
  uint32_t offsetOffset() const { return f_offset_offset; }
  // That value field read as a block position.
  uint32_t offset() const { return f_offset; }

 private:
  uint16_t f_tag = 0;
  uint16_t f_type = 0;
  uint32_t f_count = 0;
  uint32_t f_offset_offset = 0;
  uint32_t f_offset = 0;
};

// TIFF field types.
enum tiffType : uint16_t {
  tiff_byte = 1, tiff_ascii, tiff_short, tiff_long, tiff_rational, tiff_sbyte,
  tiff_undefined, tiff_sshort, tiff_slong, tiff_srational, tiff_float, tiff_double,
  tiff_ifd = 13
};

// Bytes per value of a TIFF type, or 0 for a type this library does not know.
inline unsigned tiffUnitSize(unsigned type) {
  static const unsigned char sizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < 14 ? sizes[type] : 0;
}

#endif
