// ISO base media files (ISO/IEC 14496-12) that keep items in a top-level
// meta box: HEIC/HEIF, AVIF and any other brand that does (ISO/IEC 23008-12).
//
// The EXIF block is the item of type Exif: iinf names it (infe versions 2
// and 3), iloc says where its bytes lie (versions 0 to 2; in the file, or in
// the meta box's idat), in one or more extents joined in order.  Its data
// begins with a 32-bit big-endian offset to the TIFF header, counted from
// the end of those four bytes (usually over "Exif\0\0").
//
// Boxes are walked by their headers and never loaded whole: the top level
// up to meta, meta's children, iinf's entries and iloc's table, each box
// bounded by its parent.  The nesting is fixed (file, meta, iinf/iloc/idat),
// so no depth comes from the file.  No walk has a count of its own to cap:
// every box takes at least 8 bytes of its parent and every iloc entry at
// least 6, so each walk's steps are bounded by the bytes it reads; the one
// loop that could step without reading (extents of no bytes) is skipped by
// arithmetic, and only the Exif item's extents are kept.
#include <utility>

#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint32_t code(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

const char* const container = "HEIF container";
const exifFormat heif = exifFormat::heif;

// An item in extents that do not follow one another is copied into one
// block, of at most this many bytes: far more than a photograph's EXIF data,
// while a sparse file declares extents of gigabytes without holding them.
constexpr uint64_t largestJoined = 16 * 1024 * 1024;

struct box {
  uint64_t offset = 0;   // of its header
  uint64_t payload = 0;  // of what follows the header
  uint64_t end = 0;      // just past it
  uint32_t type = 0;
  std::string name() const { return "the " + fourcc(type) + " box" + atOffset(offset); }
};

// Where the Exif item's bytes are, before the TIFF header offset is applied.
struct item {
  std::vector<filePiece> pieces;
  uint64_t size = 0;
};

class isoFile {
 public:
  explicit isoFile(fileImage& image) : i_file(image.reader()) {}
  exifLocation locate();

 private:
  bool boxAt(uint64_t at, const box* parent, box& b);
  bool findMeta(box& meta);
  bool exifItemId(const box& iinf, bool& found, uint32_t& id);
  bool exifItem(const box& iloc, const box* idat, uint32_t id, item& it);
  bool extents(const box& iloc, const byteReader& table, uint64_t& at, uint16_t count,
               unsigned method, uint64_t base, const box* idat, item& it);
  exifLocation blockOf(const item& it, uint32_t id);
  bool fail(exifLocation l) {
    i_failure = std::move(l);
    return false;
  }
  bool damage(const std::string& what) { return fail(damaged(heif, container, what)); }

  byteReader i_file;
  exifLocation i_failure;
  unsigned i_offsetSize = 0, i_lengthSize = 0, i_baseSize = 0, i_indexSize = 0;
};

// Reads an unsigned number of 0, 4 or 8 bytes.
bool sizedAt(const byteReader& r, uint64_t& at, unsigned size, uint64_t& v) {
  v = 0;
  if (size == 4) {
    uint32_t v32 = 0;
    if (!r.u32At(at, v32)) return false;
    v = v32;
  } else if (size == 8) {
    uint32_t hi = 0, lo = 0;
    if (!r.u32At(at, hi) || !r.u32At(at + 4, lo)) return false;
    v = uint64_t(hi) << 32 | lo;
  }
  at += size;
  return true;
}

// The box header at `at`, inside the parent (the file when there is none).
bool isoFile::boxAt(uint64_t at, const box* parent, box& b) {
  const uint64_t end = parent ? parent->end : i_file.size();
  auto outside = [&](const std::string& what) {
    return parent ? damage(what + " runs past its parent")
                  : fail(truncated(heif, what + " runs past the end of the file"));
  };
  b = box();
  b.offset = at;
  uint32_t size = 0;
  if (end - at < 8 || !i_file.u32At(at, size) || !i_file.u32At(at + 4, b.type))
    return outside("the box header" + atOffset(at));
  uint64_t length = size;
  b.payload = at + 8;
  if (size == 1) {  // a 64-bit size follows the type
    if (end - at < 16 || !sizedAt(i_file, b.payload, 8, length)) return outside(b.name());
    if (length < 16) return damage(b.name() + " declares a size of " + std::to_string(length));
  } else if (size == 0) {  // the box runs to the end of its parent
    length = end - at;
  } else if (size < 8) {
    return damage(b.name() + " declares a size of " + std::to_string(size));
  }
  if (length > end - at) return outside(b.name());
  b.end = at + length;
  return true;
}

bool isoFile::findMeta(box& meta) {
  for (uint64_t at = 0; at < i_file.size(); at = meta.end) {
    if (!boxAt(at, nullptr, meta)) return false;
    if (meta.type == code("meta")) return true;
  }
  meta = box();
  return true;
}

// The ID of the first unprotected item of type Exif.
bool isoFile::exifItemId(const box& iinf, bool& found, uint32_t& id) {
  found = false;
  uint8_t version = 0;
  if (!i_file.u8At(iinf.payload, version) || iinf.end - iinf.payload < 4)
    return damage(iinf.name() + " is too short for its fields");
  const uint64_t first = iinf.payload + 4 + (version == 0 ? 2 : 4);  // after the entry count
  if (first > iinf.end) return damage(iinf.name() + " is too short for its fields");
  box infe;
  for (uint64_t at = first; at < iinf.end; at = infe.end) {
    if (!boxAt(at, &iinf, infe)) return false;
    if (infe.type != code("infe")) continue;
    byteReader fields;
    i_file.sub(infe.payload, infe.end - infe.payload, fields);
    uint8_t v = 0;
    fields.u8At(0, v);
    if (v < 2 || v > 3) continue;  // no item type before version 2; later ones unknown
    uint32_t itemId = 0, type = 0;
    uint16_t id16 = 0, protection = 0;
    const uint64_t idSize = v == 2 ? 2 : 4;
    const bool read = (v == 2 ? fields.u16At(4, id16) : fields.u32At(4, itemId)) &&
                      fields.u16At(4 + idSize, protection) && fields.u32At(6 + idSize, type);
    if (!read) return damage(infe.name() + " is too short for its fields");
    if (type != code("Exif") || protection != 0) continue;
    id = v == 2 ? id16 : itemId;
    found = true;
    return true;
  }
  return true;
}

// Where the item's extents lie.  The table's entries of other items are
// passed over by their sizes.
bool isoFile::exifItem(const box& iloc, const box* idat, uint32_t id, item& it) {
  byteReader table;
  i_file.sub(iloc.payload, iloc.end - iloc.payload, table);
  const std::string shortBox = iloc.name() + " ends inside its table";
  uint8_t version = 0, sizes = 0, more = 0;
  if (!table.u8At(0, version) || !table.u8At(4, sizes) || !table.u8At(5, more)) return damage(shortBox);
  if (version > 2) return damage(iloc.name() + " has version " + std::to_string(version));
  i_offsetSize = sizes >> 4;
  i_lengthSize = sizes & 15;
  i_baseSize = more >> 4;
  i_indexSize = version > 0 ? more & 15 : 0;
  for (unsigned s : {i_offsetSize, i_lengthSize, i_baseSize, i_indexSize})
    if (s != 0 && s != 4 && s != 8)
      return damage(iloc.name() + " declares a field size of " + std::to_string(s));
  uint64_t at = 6, count = 0;
  uint16_t c16 = 0;
  uint32_t c32 = 0;
  if (!(version < 2 ? table.u16At(at, c16) : table.u32At(at, c32))) return damage(shortBox);
  count = version < 2 ? c16 : c32;
  at += version < 2 ? 2 : 4;
  const uint64_t extentSize = i_indexSize + i_offsetSize + i_lengthSize;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t itemId = 0, base = 0;
    uint16_t method = 0, reference = 0, extentCount = 0;
    if (!sizedAt(table, at, version < 2 ? 0 : 4, itemId)) return damage(shortBox);
    if (version < 2) {
      uint16_t v = 0;
      if (!table.u16At(at, v)) return damage(shortBox);
      itemId = v;
      at += 2;
    }
    if (version > 0) {
      if (!table.u16At(at, method)) return damage(shortBox);
      method &= 15;
      at += 2;
    }
    if (!table.u16At(at, reference)) return damage(shortBox);
    at += 2;
    if (!sizedAt(table, at, i_baseSize, base) || !table.u16At(at, extentCount)) return damage(shortBox);
    at += 2;
    if (itemId == id) {
      const std::string entry = "the Exif item (ID " + std::to_string(id) + ")";
      if (reference != 0)
        return damage(entry + " lies in another file (data reference " + std::to_string(reference) + ")");
      if (method > 1)
        return damage(entry + " has construction method " + std::to_string(method) +
                      ", which this library does not read");
      if (method == 1 && !idat) return damage(entry + " lies in an idat box that the meta box lacks");
      return extents(iloc, table, at, extentCount, method, base, idat, it);
    }
    if (extentSize * extentCount > table.size() - at) return damage(shortBox);
    at += extentSize * extentCount;
  }
  return damage("the Exif item (ID " + std::to_string(id) + ") is not in " + iloc.name());
}

// The item's extents as spans of the file, in order; spans that follow one
// another in the file are joined.
bool isoFile::extents(const box& iloc, const byteReader& table, uint64_t& at, uint16_t count,
                      unsigned method, uint64_t base, const box* idat, item& it) {
  const std::string entry = "the Exif item";
  if (count == 0) return damage(entry + " has no extents");
  if (count > 1 && i_lengthSize == 0)
    return damage(entry + " has " + std::to_string(count) + " extents of no stated length");
  // Offsets count from the start of the file, or of the idat box's data.
  const uint64_t from = method == 1 ? idat->payload : 0;
  const uint64_t to = method == 1 ? idat->end : i_file.size();
  for (uint16_t i = 0; i < count; ++i) {
    uint64_t index = 0, offset = 0, length = 0;
    if (!sizedAt(table, at, i_indexSize, index) || !sizedAt(table, at, i_offsetSize, offset) ||
        !sizedAt(table, at, i_lengthSize, length))
      return damage(iloc.name() + " ends inside its table");
    // from + base + offset, checked against the end before it is added up.
    const uint64_t room = to - from;
    if (base > room || offset > room - base) {
      const std::string what = entry + "'s extent " + std::to_string(i + 1) + " begins past the end of ";
      return method == 1 ? damage(what + idat->name()) : fail(truncated(heif, what + "the file"));
    }
    const uint64_t start = from + base + offset;
    if (length == 0) length = to - start;  // a sole extent of no stated length: to the end
    if (length > to - start) {
      const std::string what = entry + "'s extent" + atOffset(start) + " runs past the end of ";
      return method == 1 ? damage(what + idat->name()) : fail(truncated(heif, what + "the file"));
    }
    // Joined extents are copied: together they may not be larger than the file.
    if (length > i_file.size() - it.size)
      return damage(entry + "'s extents add up to more than the file's " +
                    std::to_string(i_file.size()) + " bytes");
    it.size += length;
    if (length == 0) continue;
    if (!it.pieces.empty() && it.pieces.back().offset + it.pieces.back().length == start)
      it.pieces.back().length += length;
    else
      it.pieces.push_back({start, length});
  }
  if (it.pieces.size() > 1 && it.size > largestJoined)
    return damage(entry + "'s extents add up to more than " + std::to_string(largestJoined) + " bytes");
  return true;
}

// Copies n bytes at the item's position pos.
bool itemBytes(const byteReader& file, const item& it, uint64_t pos, unsigned char* out, uint64_t n) {
  for (const filePiece& p : it.pieces) {
    if (n == 0) break;
    if (pos >= p.length) {
      pos -= p.length;
      continue;
    }
    const uint64_t take = p.length - pos < n ? p.length - pos : n;
    if (!file.copyAt(p.offset + pos, out, take)) return false;
    out += take;
    n -= take;
    pos = 0;
  }
  return n == 0;
}

exifLocation isoFile::locate() {
  box meta;
  if (!findMeta(meta)) return i_failure;
  if (meta.type == 0) return noExif(heif);
  if (meta.end - meta.payload < 4) return damaged(heif, container, meta.name() + " is too short for its fields");
  box child, iinf, iloc, idat;
  for (uint64_t at = meta.payload + 4; at < meta.end; at = child.end) {
    if (!boxAt(at, &meta, child)) return i_failure;
    box* slot = child.type == code("iinf") ? &iinf : child.type == code("iloc") ? &iloc
              : child.type == code("idat") ? &idat : nullptr;
    if (slot && slot->type == 0) *slot = child;
  }
  if (iinf.type == 0) return noExif(heif);
  bool found = false;
  uint32_t id = 0;
  if (!exifItemId(iinf, found, id)) return i_failure;
  if (!found) return noExif(heif);
  if (iloc.type == 0)
    return damaged(heif, container, "the Exif item (ID " + std::to_string(id) + ") has no iloc box to locate it");
  item it;
  if (!exifItem(iloc, idat.type ? &idat : nullptr, id, it)) return i_failure;
  return blockOf(it, id);
}

// The item's data: the offset to the TIFF header, then what it skips.  The
// block is the rest, in the item's spans.
exifLocation isoFile::blockOf(const item& it, uint32_t id) {
  const std::string entry = "the Exif item (ID " + std::to_string(id) + ")";
  unsigned char field[4];
  if (!itemBytes(i_file, it, 0, field, 4)) return damaged(heif, container, entry + " is shorter than 4 bytes");
  const uint64_t skip =
      4 + (uint32_t(field[0]) << 24 | uint32_t(field[1]) << 16 | uint32_t(field[2]) << 8 | field[3]);
  if (skip > it.size)
    return damaged(heif, container, entry + atOffset(it.pieces[0].offset) + " puts its TIFF header past its " +
                                        std::to_string(it.size) + " bytes");
  exifLocation l = noExif(heif);
  uint64_t drop = skip;
  for (const filePiece& p : it.pieces) {
    if (drop >= p.length) {
      drop -= p.length;
      continue;
    }
    l.pieces.push_back({p.offset + drop, p.length - drop});
    drop = 0;
  }
  // A TIFF header at the very end: an empty block, for the parser to report.
  if (l.pieces.empty()) l.pieces.push_back({it.pieces.back().offset + it.pieces.back().length, 0});
  return l;
}

}  // namespace

exifLocation locateHeifItem(fileImage& image) { return isoFile(image).locate(); }

}  // namespace containers
