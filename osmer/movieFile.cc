// Movies (QuickTime, MP4, 3GP and the other ISO base media brands): the
// capture time their moov box records.
//
//   - moov/meta (handler mdta): the Keys value com.apple.quicktime.creationdate
//     (keys names it by its 1-based index, ilst holds the value in a data
//     box), the camera's wall clock and its offset as text;
//   - else moov/mvhd: the creation time, seconds since 1904 in UTC (32 bits
//     in version 0, 64 in version 1).
// The time's text and value are checked by the reader of recorded times;
// here only the boxes are.  trak boxes, which hold the sample tables, are
// passed by their sizes.  QuickTime writes meta without the version and
// flags that ISO's meta has: the first child's type tells the two apart.
//
// Every walk is bounded by its box: a keys entry takes at least 8 bytes,
// every box 8, so no count from the file makes a walk longer than its box.
// The value is kept up to 64 bytes, more than any date takes.
#include <cstring>

#include "containerFormats.h"
#include "damageText.h"

namespace containers {

namespace {

constexpr uint32_t mvhd = fourcc("mvhd"), meta = fourcc("meta"), hdlr = fourcc("hdlr"),
                   keys = fourcc("keys"), ilst = fourcc("ilst"), data = fourcc("data"),
                   mdta = fourcc("mdta");
const char creationDateKey[] = "com.apple.quicktime.creationdate";
constexpr uint64_t longestValue = 64;

class movieBoxes {
 public:
  explicit movieBoxes(const chunkWalker& top) : m_walk(top.file(), chunkFamily::isoBmff, "movie") {}
  exifLocation locate(const chunk& moov);

 private:
  bool movieHeader(const chunk& c);
  bool keysDate(const chunk& metaBox);
  bool keyIndex(const chunk& keysBox, uint32_t& index);
  bool value(const chunkWalker& in, const chunk& listBox, uint32_t index);
  bool fail(const std::string& what) {
    m_damage = damageText::damagedIn("movie", what);
    return false;
  }
  bool fail(const chunkWalker& w) {
    m_damage = *w.damage();
    return false;
  }

  chunkWalker m_walk;  // names the container in damage texts
  std::optional<misc_error> m_damage;
  bool m_hasHeader = false, m_hasKeysDate = false;
  uint64_t m_created = 0;
  std::string m_keysDate;
};

bool movieBoxes::movieHeader(const chunk& c) {
  cursor f = m_walk.dataOf(c);
  const uint8_t version = f.u8();
  f.skip(3);
  const uint64_t created = version == 1 ? f.u64be() : f.u32be();
  if (!f) return fail(m_walk.name(c) + " is too short for its fields");
  if (version > 1) return fail(m_walk.name(c) + " has version " + std::to_string(version));
  m_created = created;
  m_hasHeader = true;
  return true;
}

// The 1-based index of the creation date's key, 0 when keys has none.
bool movieBoxes::keyIndex(const chunk& keysBox, uint32_t& index) {
  cursor table = m_walk.dataOf(keysBox);
  table.skip(4);  // version and flags
  const uint32_t count = table.u32be();
  if (!table) return fail(m_walk.name(keysBox) + " is too short for its fields");
  const size_t keyLength = sizeof creationDateKey - 1;
  for (uint32_t i = 1; i <= count; ++i) {
    const uint64_t at = table.fileOffset();
    const uint32_t size = table.u32be();
    table.skip(4);  // the key's namespace
    if (table && size < 8) return fail("the key" + damageText::atOffset(at) + " declares a size of " + std::to_string(size));
    cursor name = table.sub(size - 8);
    if (!table) return fail(m_walk.name(keysBox) + " ends inside its table");
    if (size - 8 == keyLength && name.skipIf(creationDateKey, keyLength)) {
      index = i;
      return true;
    }
  }
  index = 0;
  return true;
}

// The value of the item with that index: its first data box's, past its
// type and locale.
bool movieBoxes::value(const chunkWalker& in, const chunk& listBox, uint32_t index) {
  chunkWalker items = in.children(listBox);
  for (const chunk& item : items) {
    if (item.type != index) continue;
    chunkWalker values = items.children(item);
    for (const chunk& v : values) {
      if (v.type != data) continue;
      cursor f = values.dataOf(v);
      f.skip(8);  // the type indicator and the locale
      if (!f) return fail(values.name(v) + " is too short for its fields");
      // A longer value is no date: its first bytes say so as well.
      const uint64_t n = f.left() < longestValue ? f.left() : longestValue;
      m_keysDate.resize(static_cast<size_t>(n));
      if (!f.bytes(&m_keysDate[0], n)) m_keysDate.clear();
      m_hasKeysDate = true;
      return true;
    }
    if (values.damage()) return fail(values);
    return true;
  }
  if (items.damage()) return fail(items);
  return true;
}

bool movieBoxes::keysDate(const chunk& metaBox) {
  // QuickTime's meta box: hdlr's header at once; ISO's: after version and flags.
  cursor probe = m_walk.dataOf(metaBox);
  probe.skip(4);
  chunkWalker children = m_walk.children(metaBox, probe.fourcc() == hdlr ? 0 : 4);
  chunk handler, keysBox, listBox;
  for (const chunk& c : children) {
    chunk* slot = c.type == hdlr ? &handler : c.type == keys ? &keysBox : c.type == ilst ? &listBox : nullptr;
    if (slot && !*slot) *slot = c;
  }
  if (children.damage()) return fail(children);
  if (!handler || !keysBox || !listBox) return true;
  cursor h = children.dataOf(handler);
  h.skip(8);  // version, flags and a predefined field
  const uint32_t handlerType = h.fourcc();
  if (!h) return fail(children.name(handler) + " is too short for its fields");
  if (handlerType != mdta) return true;
  uint32_t index = 0;
  if (!keyIndex(keysBox, index)) return false;
  return index == 0 || value(children, listBox, index);
}

exifLocation movieBoxes::locate(const chunk& moov) {
  const exifFormat movie = exifFormat::movie;
  chunkWalker children = m_walk.children(moov);
  bool header = false, metaSeen = false;
  for (const chunk& c : children) {
    if (c.type == mvhd && !header) {
      header = true;
      if (!movieHeader(c)) return failed(movie, *m_damage);
    } else if (c.type == meta && !metaSeen) {
      metaSeen = true;
      if (!keysDate(c)) return failed(movie, *m_damage);
    }
  }
  if (children.damage()) return failed(movie, *children.damage());
  exifLocation l = noExif(movie);
  if (m_hasKeysDate) {
    l.time.kind = recordedTime::creationDate;
    l.time.text = m_keysDate;
  } else if (m_hasHeader) {
    l.time.kind = recordedTime::movieHeader;
    l.time.seconds = m_created;
  }
  return l;
}

}  // namespace

exifLocation locateInMovie(const chunkWalker& top, const chunk& moov) { return movieBoxes(top).locate(moov); }

}  // namespace containers
