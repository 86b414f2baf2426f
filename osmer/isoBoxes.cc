// ISO base media files (ISO/IEC 14496-12) that keep items in a top-level
// meta box: HEIC/HEIF, AVIF and any other brand that does (ISO/IEC 23008-12).
//
// The EXIF block is the item of type Exif: iinf names it (infe versions 2
// and 3), iloc says where its bytes lie (versions 0 to 2; in the file, or in
// the meta box's idat), in one or more extents joined in order.  Its data
// begins with a 32-bit big-endian offset to the TIFF header, counted from
// the end of those four bytes (usually over "Exif\0\0").
//
// Boxes are walked by their headers (chunkWalker) and never loaded whole:
// the top level up to meta, meta's children, iinf's entries, and iloc's
// table, each box bounded by its parent.  The nesting is fixed (file, meta,
// iinf/iloc/idat), so no depth comes from the file.  No walk has a count of
// its own to cap: every box takes at least 8 bytes of its parent and every
// iloc entry at least 6, so each walk's steps are bounded by the bytes it
// reads; the one loop that could step without reading (extents of no
// bytes) is skipped by arithmetic, and only the Exif item's extents are
// kept.
#include <string>
#include <utility>

#include "chunkWalker.h"
#include "containerFormats.h"

namespace containers {

namespace {

const char* const container = "HEIF container";
const exifFormat heif = exifFormat::heif;

// An item in extents that do not follow one another is copied into one
// block, of at most this many bytes: far more than a photograph's EXIF data,
// while a sparse file declares extents of gigabytes without holding them.
constexpr uint64_t largestJoined = 16 * 1024 * 1024;

// Where the Exif item's bytes are, before the TIFF header offset is applied.
struct item {
  std::vector<filePiece> pieces;
  uint64_t size = 0;
};

// iloc's field sizes (0, 4 or 8 bytes).
struct ilocSizes {
  unsigned offset = 0, length = 0, base = 0, index = 0;
};

class isoFile {
 public:
  explicit isoFile(fileImage& image)
      : iso_file(image.reader()), iso_top(iso_file, chunkFamily::isoBmff, container) {}
  exifLocation locate();

 private:
  bool exifItemId(const chunk& iinf, bool& found, uint32_t& id);
  bool exifItem(const chunk& iloc, const chunk* idat, uint32_t id, item& it);
  bool extents(const chunk& iloc, cursor& table, uint16_t count, const ilocSizes& sizes,
               unsigned method, uint64_t base, const chunk* idat, item& it);
  exifLocation blockOf(const item& it, uint32_t id);
  std::string name(const chunk& c) const { return iso_top.name(c); }
  bool fail(exifLocation l) {
    iso_failure = std::move(l);
    return false;
  }
  bool damage(const std::string& what) { return fail(damaged(heif, container, what)); }
  // The damage that ended a walk of boxes.
  bool walkFailed(const chunkWalker& w) { return fail(failed(heif, *w.damage())); }

  byteReader iso_file;
  chunkWalker iso_top;
  exifLocation iso_failure;
};

// The ID of the first unprotected item of type Exif.
bool isoFile::exifItemId(const chunk& iinf, bool& found, uint32_t& id) {
  found = false;
  cursor fields = iso_top.dataOf(iinf);
  const uint8_t version = fields.u8();
  if (!fields || iinf.size < 4) return damage(name(iinf) + " is too short for its fields");
  // The entries follow the entry count.
  chunkWalker entries = iso_top.children(iinf, 4 + (version == 0 ? 2 : 4));
  for (const chunk& infe : entries) {
    if (infe.type != fourcc("infe")) continue;
    cursor c = entries.dataOf(infe);
    const uint8_t v = c.u8();
    if (!c || v < 2 || v > 3) continue;  // no item type before version 2; later ones unknown
    c.skip(3);                           // flags
    const uint32_t itemId = v == 2 ? c.u16be() : c.u32be();
    const uint16_t protection = c.u16be();
    const uint32_t type = c.fourcc();
    if (!c) return damage(name(infe) + " is too short for its fields");
    if (type != fourcc("Exif") || protection != 0) continue;
    id = itemId;
    found = true;
    return true;
  }
  if (entries.damage()) return walkFailed(entries);
  return true;
}

// Where the item's extents lie.  The table's entries of other items are
// passed over by their sizes.
bool isoFile::exifItem(const chunk& iloc, const chunk* idat, uint32_t id, item& it) {
  cursor table = iso_top.dataOf(iloc);
  const std::string shortBox = name(iloc) + " ends inside its table";
  const uint8_t version = table.u8();
  table.skip(3);  // flags
  const uint8_t sizes = table.u8(), more = table.u8();
  if (!table) return damage(shortBox);
  if (version > 2) return damage(name(iloc) + " has version " + std::to_string(version));
  ilocSizes size;
  size.offset = sizes >> 4;
  size.length = sizes & 15;
  size.base = more >> 4;
  size.index = version > 0 ? more & 15 : 0;
  for (unsigned s : {size.offset, size.length, size.base, size.index})
    if (s != 0 && s != 4 && s != 8)
      return damage(name(iloc) + " declares a field size of " + std::to_string(s));
  const uint64_t count = version < 2 ? table.u16be() : table.u32be();
  if (!table) return damage(shortBox);
  const uint64_t extentSize = size.index + size.offset + size.length;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t itemId = version < 2 ? table.u16be() : table.u32be();
    uint16_t method = 0;
    if (version > 0) method = table.u16be() & 15;
    const uint16_t reference = table.u16be();
    const uint64_t base = table.uintBe(size.base);
    const uint16_t extentCount = table.u16be();
    if (!table) return damage(shortBox);
    if (itemId == id) {
      const std::string entry = "the Exif item (ID " + std::to_string(id) + ")";
      if (reference != 0)
        return damage(entry + " lies in another file (data reference " + std::to_string(reference) + ")");
      if (method > 1)
        return damage(entry + " has construction method " + std::to_string(method) +
                      ", which this library does not read");
      if (method == 1 && !idat) return damage(entry + " lies in an idat box that the meta box lacks");
      return extents(iloc, table, extentCount, size, method, base, idat, it);
    }
    table.skip(extentSize * extentCount);
    if (!table) return damage(shortBox);
  }
  return damage("the Exif item (ID " + std::to_string(id) + ") is not in " + name(iloc));
}

// The item's extents as spans of the file, in order; spans that follow one
// another in the file are joined.
bool isoFile::extents(const chunk& iloc, cursor& table, uint16_t count, const ilocSizes& size,
                      unsigned method, uint64_t base, const chunk* idat, item& it) {
  const std::string entry = "the Exif item";
  if (count == 0) return damage(entry + " has no extents");
  if (count > 1 && size.length == 0)
    return damage(entry + " has " + std::to_string(count) + " extents of no stated length");
  // Offsets count from the start of the file, or of the idat box's data.
  const uint64_t from = method == 1 ? idat->data : 0;
  const uint64_t to = method == 1 ? idat->end : iso_file.size();
  for (uint16_t i = 0; i < count; ++i) {
    table.uintBe(size.index);
    const uint64_t offset = table.uintBe(size.offset);
    uint64_t length = table.uintBe(size.length);
    if (!table) return damage(name(iloc) + " ends inside its table");
    // from + base + offset, checked against the end before it is added up.
    const uint64_t room = to - from;
    if (base > room || offset > room - base) {
      const std::string what = entry + "'s extent " + std::to_string(i + 1) + " begins past the end of ";
      return method == 1 ? damage(what + name(*idat)) : fail(truncated(heif, what + "the file"));
    }
    const uint64_t start = from + base + offset;
    if (length == 0) length = to - start;  // a sole extent of no stated length: to the end
    if (length > to - start) {
      const std::string what = entry + "'s extent" + atOffset(start) + " runs past the end of ";
      return method == 1 ? damage(what + name(*idat)) : fail(truncated(heif, what + "the file"));
    }
    // Joined extents are copied: together they may not be larger than the file.
    if (length > iso_file.size() - it.size)
      return damage(entry + "'s extents add up to more than the file's " +
                    std::to_string(iso_file.size()) + " bytes");
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
  chunk meta;
  for (const chunk& c : iso_top)
    if (c.type == fourcc("meta")) {
      meta = c;
      break;
    }
  if (iso_top.damage()) return failed(heif, *iso_top.damage());
  if (!meta) return noExif(heif);
  // The children follow the full box's version and flags.
  chunkWalker children = iso_top.children(meta, 4);
  chunk iinf, iloc, idat;
  for (const chunk& child : children) {
    chunk* slot = child.type == fourcc("iinf") ? &iinf : child.type == fourcc("iloc") ? &iloc
                : child.type == fourcc("idat") ? &idat : nullptr;
    if (slot && !*slot) *slot = child;
  }
  if (children.damage()) return failed(heif, *children.damage());
  if (!iinf) return noExif(heif);
  bool found = false;
  uint32_t id = 0;
  if (!exifItemId(iinf, found, id)) return iso_failure;
  if (!found) return noExif(heif);
  if (!iloc)
    return damaged(heif, container, "the Exif item (ID " + std::to_string(id) + ") has no iloc box to locate it");
  item it;
  if (!exifItem(iloc, idat ? &idat : nullptr, id, it)) return iso_failure;
  return blockOf(it, id);
}

// The item's data: the offset to the TIFF header, then what it skips.  The
// block is the rest, in the item's spans.
exifLocation isoFile::blockOf(const item& it, uint32_t id) {
  const std::string entry = "the Exif item (ID " + std::to_string(id) + ")";
  unsigned char field[4];
  if (!itemBytes(iso_file, it, 0, field, 4)) return damaged(heif, container, entry + " is shorter than 4 bytes");
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
