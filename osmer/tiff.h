// tiff: TIFF's structure as the library reads it (a TIFF file, an EXIF
// block, the TIFF-based raw formats), and its one directory walk.
//
// A TIFF structure begins with a header: a byte-order mark ("II" little-,
// "MM" big-endian), a 16-bit magic number (42; some raw formats their own),
// the 32-bit offset of IFD0.  A directory (IFD) is a 16-bit entry count,
// that many 12-byte entries (tag, type, count, a 4-byte value or the offset
// of a longer one), and the 32-bit offset of the next directory (0: none).
// Offsets count from the header's first byte.
#ifndef ORVANE_OSMER_TIFF_H
#define ORVANE_OSMER_TIFF_H

#include <cstdint>

#include "byteReader.h"
#include "cursor.h"

namespace tiff {

constexpr uint16_t littleEndianMark = 0x4949;  // "II"
constexpr uint16_t bigEndianMark = 0x4D4D;     // "MM"
constexpr uint16_t magic = 42;
constexpr uint32_t headerSize = 8;
constexpr uint64_t entrySize = 12;

// Entry types that can hold a directory's offset.
constexpr uint16_t typeShort = 3, typeLong = 4, typeIfd = 13;

// Tags whose value is another directory's offset.
constexpr uint16_t exifPointer = 0x8769;
constexpr uint16_t gpsPointer = 0x8825;
constexpr uint16_t interopPointer = 0xA005;
constexpr uint16_t dateTimeOriginal = 0x9003;

// One entry as stored; at is the block position of its first byte.
struct entry {
  uint16_t tag = 0, type = 0;
  uint32_t count = 0, value = 0;
  uint64_t at = 0;
};

// One directory of a block, its entries read as they are asked for.  The
// table is looked at as far as it lies in the block: a table that runs
// past the block ends there.
class directory {
 public:
  // False when offset lies in the header or its count outside the block.
  bool open(const byteReader& block, uint64_t offset) {
    d_block = block;
    d_offset = offset;
    cursor c(block, offset);
    d_count = c.u16();
    if (offset < headerSize || !c) return false;
    const uint64_t fit = c.left() / entrySize;
    d_room = static_cast<uint32_t>(d_count < fit ? d_count : fit);
    return true;
  }
  uint64_t offset() const { return d_offset; }
  // Entries as declared, and how many of them lie in the block.
  uint16_t count() const { return d_count; }
  uint32_t room() const { return d_room; }
  // Entry i (i < room()).
  entry at(uint32_t i) const {
    entry e;
    e.at = d_offset + 2 + entrySize * i;
    // One look at the entry's bytes (its pages are loaded once), then its
    // fields in the block's byte order.
    const unsigned char* p = nullptr;
    if (!d_block.viewAt(e.at, entrySize, p)) return e;
    const byteReader fields(p, entrySize, d_block.bigEndian());
    fields.u16At(0, e.tag);
    fields.u16At(2, e.type);
    fields.u32At(4, e.count);
    fields.u32At(8, e.value);
    return e;
  }
  // The offset of the next directory: 0 when there is none, or when the
  // field lies outside the block.
  uint32_t next() const {
    cursor c(d_block, d_offset + 2 + entrySize * d_count);
    const uint32_t v = c.u32();
    return c ? v : 0;
  }
  // The directory offset an entry holds: its first value, of type SHORT,
  // LONG or IFD; 0 for any other entry, and when its values do not all lie
  // in the block.
  uint32_t pointer(const entry& e) const {
    const unsigned unit = e.type == typeShort ? 2 : e.type == typeLong || e.type == typeIfd ? 4 : 0;
    const uint64_t bytes = uint64_t(e.count) * unit;
    if (bytes == 0) return 0;
    // Values of up to 4 bytes are stored in the entry, longer ones apart.
    const uint64_t from = bytes > 4 ? e.value : e.at + 8;
    if (!d_block.has(from, bytes)) return 0;
    cursor c(d_block, from);
    return unit == 2 ? c.u16() : c.u32();
  }

 private:
  byteReader d_block;
  uint64_t d_offset = 0;
  uint16_t d_count = 0;
  uint32_t d_room = 0;
};

}  // namespace tiff

#endif
