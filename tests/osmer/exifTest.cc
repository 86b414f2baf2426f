// The EXIF side of the container library: directories in both byte orders,
// lookups, the known-tag table, the block reader, and blocks damaged on
// purpose, all over photographs made by the test writer.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "exif.h"
#include "exifHeader.h"
#include "exifTag.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "mstream.h"
#include "runTool.h"
#include "textHandlerMap.h"
#include "undefinedField.h"

using namespace testjpeg;

namespace {

// Heap bytes in use.  Whatever a count in the block says, parsing it must
// not keep more memory than the block itself can justify.
long long heapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<long long>(m.uordblks + m.hblkhd);
}
// Field objects, directories and their vectors, beyond the values.
constexpr long long bookkeeping = 64 * 1024;

// One photograph opened, checked and parsed, as chronel does it.
struct parsedPhoto {
  explicit parsedPhoto(const std::string& path) : j(path.c_str()), h(j), e(h) { e.populate(); }
  jfif j;
  exifHeader h;
  exif e;
};

// The heap that parsing the photograph's EXIF block keeps.  The file image
// is read first, so that only the parser is measured.
long long heapKeptByParsing(const std::string& path) {
  jfif j(path.c_str());
  exifHeader h(j);
  j.image().loadAll();
  const long long before = heapInUse();
  exif e(h);
  e.populate();
  return heapInUse() - before;
}

// The directories and their tags: "IFD0[010f 8769] Exif[9003]".
std::string layout(const exif& e) {
  std::string s;
  for (const auto& d : e.directories()) {
    if (!s.empty()) s += ' ';
    s += d->name();
    s += '[';
    bool first = true;
    for (const auto& f : d->fields()) {
      char t[8];
      std::snprintf(t, sizeof t, first ? "%04x" : " %04x", f->tag());
      s += t;
      first = false;
    }
    s += ']';
  }
  return s;
}

std::string text(const field* f) {
  if (!f) return "(none)";
  return plainHandlers::map.findHandler(f->tag())->fieldText(nullptr, f);
}

// The text of the first field with the tag, and the name of its directory.
std::string found(const exif& e, unsigned short tag) {
  const ifd* where = nullptr;
  const field* f = e.find(tag, where);
  if (!f) return "(none)";
  return std::string(where ? where->name() : "(no directory)") + ": " + text(f);
}

// Writes numbers into a built block in its byte order.
struct patcher {
  bytes& b;
  bool big;
  void u16(size_t at, uint16_t v) {
    b.at(at + (big ? 1 : 0)) = uint8_t(v);
    b.at(at + (big ? 0 : 1)) = uint8_t(v >> 8);
  }
  void u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + (big ? 3 - i : i)) = uint8_t(v >> (8 * i));
  }
  uint32_t get32(size_t at) const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(b.at(at + (big ? 3 - i : i))) << (8 * i);
    return v;
  }
};

// Block position of entry i of a directory, and of its value field.
constexpr uint32_t ifd0Offset = 8;  // where the writer puts IFD0

size_t entryAt(const tiffWriter& w, dir d, size_t i) { return w.dirOffset(d) + 2 + 12 * i; }
size_t valueFieldAt(const tiffWriter& w, dir d, size_t i) { return entryAt(w, d, i) + 8; }

class ExifFixture : public ::testing::Test {
 protected:
  std::string save(const jpegWriter& w) {
    w.save(path);
    return path;
  }
  std::unique_ptr<parsedPhoto> parse(const bytes& tiff) {
    return std::make_unique<parsedPhoto>(save(jpegWriter().photo(tiff)));
  }
  // The report line chronel would write for the file, or "" when it parses.
  std::string failure(const std::string& file) {
    try {
      parsedPhoto p(file);
    } catch (const misc_error& e) {
      return std::string("chronel:") + e.msg1() + " x.jpg" + e.msg2() + ".";
    }
    return "";
  }
  std::string failureOfBlock(const bytes& tiff) {
    jpegWriter w;
    w.soi().app0Jfif().app1Exif(tiff).frameHeaders().sos().raw({1}).eoi();
    return failure(save(w));
  }

  tempDir tmp;
  std::string path = tmp / "x.jpg";
};

class ExifOrder : public ExifFixture, public ::testing::WithParamInterface<bool> {
 protected:
  bool big() const { return GetParam(); }
};

std::string orderName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "MM" : "II";
}

// A camera-like block with something in every directory.
tiffWriter cameraBlock(bool big) {
  tiffWriter w(big);
  w.ascii(dir::ifd0, 0x010F, "Maker")
      .ascii(dir::ifd0, 0x0110, "Model X100")
      .shorts(dir::ifd0, 0x0112, {6})
      .rational(dir::ifd0, 0x011A, 72, 1)
      .dateTimeOriginal("2004:01:05 10:00:00")
      .undefined(dir::exif, 0x9000, toBytes("0230"))
      .rational(dir::exif, 0x829A, 1, 250)
      .shorts(dir::exif, 0x8827, {400})
      .add(dir::gps, 0x0000, 1, 4, {2, 3, 0, 0})
      .ascii(dir::gps, 0x0001, "N")
      .ascii(dir::interop, 0x0001, "R98")
      .shorts(dir::ifd1, 0x0103, {6})
      .longs(dir::ifd1, 0x0201, {4660});
  return w;
}

TEST_P(ExifOrder, ReadsEveryDirectoryOfACameraBlock) {
  tiffWriter w = cameraBlock(big());
  auto p = parse(w.build());
  EXPECT_EQ(layout(p->e),
            "IFD0[010f 0110 0112 011a 8769 8825] Exif[829a 8827 9000 9003 a005] GPS[0000 0001] "
            "Interop[0001] IFD1[0103 0201]");
  const dir order[] = {dir::ifd0, dir::exif, dir::gps, dir::interop, dir::ifd1};
  const ifd::kind_t kinds[] = {ifd::ifd0, ifd::exifIfd, ifd::gpsIfd, ifd::interopIfd, ifd::ifd1};
  ASSERT_EQ(p->e.directories().size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(p->e.directories()[i]->offset(), w.dirOffset(order[i])) << i;
    EXPECT_EQ(p->e.directories()[i]->kind(), kinds[i]) << i;
  }
  EXPECT_EQ(found(p->e, 0x010F), "IFD0: Maker");
  EXPECT_EQ(found(p->e, 0x0110), "IFD0: Model X100");
  EXPECT_EQ(found(p->e, 0x0112), "IFD0: 6");
  EXPECT_EQ(found(p->e, 0x011A), "IFD0: 72/1");
  EXPECT_EQ(found(p->e, 0x8769), "IFD0: " + std::to_string(w.dirOffset(dir::exif)));
  EXPECT_EQ(found(p->e, 0x9003), "Exif: 2004:01:05 10:00:00");
  EXPECT_EQ(found(p->e, 0x9000), "Exif: 0230");
  EXPECT_EQ(found(p->e, 0x829A), "Exif: 1/250");
  EXPECT_EQ(found(p->e, 0x8827), "Exif: 400");
  EXPECT_EQ(found(p->e, 0x0000), "GPS: 2 3 0 0");
  // GPSLatitudeRef and InteroperabilityIndex share tag 1: GPS comes first.
  EXPECT_EQ(found(p->e, 0x0001), "GPS: N");
  EXPECT_EQ(text(p->e.directories()[3]->find(0x0001)), "R98");
  EXPECT_EQ(found(p->e, 0x0103), "IFD1: 6");
  EXPECT_EQ(found(p->e, 0x0201), "IFD1: 4660");
  EXPECT_EQ(found(p->e, 0x9999), "(none)");
}

// A camera's maker note fills most of its APP1.  Parsing reads the pages
// of the directories and of the values it copies; the note is read when it
// is first asked for, and is then exactly what the block holds.
TEST_P(ExifOrder, ALargeMakerNoteIsReadOnlyWhenAskedFor) {
  bytes note(30000);
  for (size_t i = 0; i < note.size(); ++i) note[i] = static_cast<unsigned char>(i * 7);
  tiffWriter w = cameraBlock(big());
  w.undefined(dir::exif, 0x927C, note);
  auto p = parse(w.build());
  EXPECT_EQ(found(p->e, 0x9003), "Exif: 2004:01:05 10:00:00");
  EXPECT_LE(p->j.image().bytesRead(), 8192u);
  const ifd* where = nullptr;
  auto u = dynamic_cast<const undefinedField*>(p->e.find(0x927C, where));
  ASSERT_NE(u, nullptr);
  ASSERT_NE(u->value(), nullptr);
  EXPECT_TRUE(std::equal(note.begin(), note.end(), u->value()));
  EXPECT_GT(p->j.image().bytesRead(), note.size());
}

TEST_P(ExifOrder, FindTakesTheFirstFieldInDirectoryOrder) {
  // The same tag in several directories (and twice in one): each row leaves
  // out the directories before the one expected to win.
  const unsigned short tag = 0xC000;
  const dir all[] = {dir::ifd0, dir::exif, dir::gps, dir::interop, dir::ifd1};
  const char* names[] = {"IFD0", "Exif", "GPS", "Interop", "IFD1"};
  for (int from = 0; from < 5; ++from) {
    SCOPED_TRACE(names[from]);
    tiffWriter w(big());
    // Keep every directory present so only the tag's placement differs.
    w.shorts(dir::ifd0, 0x0112, {1}).shorts(dir::exif, 0x8827, {1}).shorts(dir::gps, 0x0005, {0});
    w.shorts(dir::interop, 0x0002, {1}).shorts(dir::ifd1, 0x0103, {6});
    for (int i = 4; i >= from; --i) w.ascii(all[i], tag, names[i]);
    w.ascii(all[from], tag, "second in its directory");
    auto p = parse(w.build());
    ASSERT_EQ(p->e.directories().size(), 5u) << layout(p->e);
    EXPECT_EQ(found(p->e, tag), std::string(names[from]) + ": " + names[from]);
  }
}

TEST_P(ExifOrder, PopulatingTwiceReadsNothingTwice) {
  auto p = parse(cameraBlock(big()).build());
  const std::string once = layout(p->e);
  p->e.populate();
  EXPECT_EQ(layout(p->e), once);
}

TEST_P(ExifOrder, DamagedEntriesAreSkippedAndTheRestStaysUsable) {
  // IFD0 holds a field before and after the victim, whose type, count and
  // value field each row overwrites; the Exif IFD (reached through a pointer
  // after the victim) and IFD1 must survive every row.
  tiffWriter w(big());
  w.ascii(dir::ifd0, 0x010E, "before")
      .add(dir::ifd0, 0x010F, 2, 8, toBytes("victim!!"))
      .ascii(dir::ifd0, 0x0110, "after")
      .dateTimeOriginal("2004:01:05 10:00:00")
      .shorts(dir::ifd1, 0x0103, {6});
  bytes built = w.build();
  const uint32_t end = static_cast<uint32_t>(built.size()) + 8;  // after the tail below
  const uint32_t beforeAt = patcher{built, big()}.get32(valueFieldAt(w, dir::ifd0, 0));
  struct row {
    const char* what;
    uint16_t type;
    uint32_t count;
    uint32_t value;     // the value field, as a number in the block's order
    const char* kept;   // the victim's text, or null when it must be skipped
  };
  const row rows[] = {
      {"ASCII count 0xFFFFFFFF", 2, 0xFFFFFFFFu, beforeAt, nullptr},
      {"SHORT count x 2 is 2^32", 3, 0x80000000u, beforeAt, nullptr},
      {"LONG count x 4 is 2^32", 4, 0x40000000u, beforeAt, nullptr},
      {"RATIONAL count x 8 is 2^32", 5, 0x20000000u, beforeAt, nullptr},
      {"SRATIONAL count x 8 is 2^32 + 8", 10, 0x20000001u, beforeAt, nullptr},
      {"DOUBLE count x 8 is 2^35 - 8", 12, 0xFFFFFFFFu, beforeAt, nullptr},
      {"UNDEFINED count 0xFFFFFFFF", 7, 0xFFFFFFFFu, beforeAt, nullptr},
      {"offset at the end of the block", 2, 8, end, nullptr},
      {"value one byte past the end", 2, 8, end - 7, nullptr},
      {"value ending at the last byte", 2, 8, end - 8, "TAILDATA"},
      {"offset 0xFFFFFFFF", 2, 8, 0xFFFFFFFFu, nullptr},
      {"offset + length wraps to 16", 2, 0x20, 0xFFFFFFF0u, nullptr},
      {"LONG offset + length wraps to 4", 4, 2, 0xFFFFFFFCu, nullptr},
      {"type 0", 0, 1, 0, nullptr},
      {"type 14", 14, 1, 0, nullptr},
      {"type 0xFFFF", 0xFFFF, 1, 0, nullptr},
      {"four bytes stay in the entry", 2, 4, big() ? 0x57585900u : 0x00595857u, "WXY"},
      {"IFD type is a number", 13, 1, 26, "26"},
      {"count 0 is an empty value", 2, 0, 0xFFFFFFFFu, ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    bytes b = built;
    for (char c : std::string("TAILDATA")) b.push_back(static_cast<unsigned char>(c));
    patcher patch{b, big()};
    patch.u16(entryAt(w, dir::ifd0, 1) + 2, r.type);
    patch.u32(entryAt(w, dir::ifd0, 1) + 4, r.count);
    patch.u32(valueFieldAt(w, dir::ifd0, 1), r.value);
    const std::string file = save(jpegWriter().photo(b));
    EXPECT_LE(heapKeptByParsing(file), static_cast<long long>(b.size()) + bookkeeping);
    auto p = std::make_unique<parsedPhoto>(file);
    EXPECT_EQ(layout(p->e), r.kept ? "IFD0[010e 010f 0110 8769] Exif[9003] IFD1[0103]"
                                   : "IFD0[010e 0110 8769] Exif[9003] IFD1[0103]");
    if (r.kept) {
      EXPECT_EQ(found(p->e, 0x010F), std::string("IFD0: ") + r.kept);
    }
    EXPECT_EQ(found(p->e, 0x010E), "IFD0: before");
    EXPECT_EQ(found(p->e, 0x0110), "IFD0: after");
    EXPECT_EQ(found(p->e, 0x9003), "Exif: 2004:01:05 10:00:00");
  }
}

TEST_P(ExifOrder, ADirectoryReachedTwiceIsReadOnce) {
  tiffWriter w = cameraBlock(big());
  const bytes built = w.build();
  const uint32_t ifd0 = w.dirOffset(dir::ifd0), exifAt = w.dirOffset(dir::exif),
                 gps = w.dirOffset(dir::gps);
  // Entry positions of the pointers in the camera block (tables are sorted).
  const size_t exifPointer = valueFieldAt(w, dir::ifd0, 4), gpsPointer = valueFieldAt(w, dir::ifd0, 5),
               interopPointer = valueFieldAt(w, dir::exif, 4),
               nextOfIfd0 = entryAt(w, dir::ifd0, 6);
  struct row {
    const char* what;
    size_t at;
    uint32_t to;
    const char* dirs;
  };
  const row rows[] = {
      {"IFD0's next pointer at itself", nextOfIfd0, ifd0, "IFD0 Exif GPS Interop"},
      {"IFD0's next pointer at the Exif IFD", nextOfIfd0, exifAt, "IFD0 Exif GPS Interop"},
      {"IFD0's next pointer at the GPS IFD", nextOfIfd0, gps, "IFD0 Exif GPS Interop"},
      {"Exif pointer at IFD0", exifPointer, ifd0, "IFD0 GPS IFD1"},
      {"GPS pointer at IFD0", gpsPointer, ifd0, "IFD0 Exif Interop IFD1"},
      {"GPS pointer at the Exif IFD", gpsPointer, exifAt, "IFD0 Exif Interop IFD1"},
      {"Interop pointer at the Exif IFD", interopPointer, exifAt, "IFD0 Exif GPS IFD1"},
      {"Interop pointer at IFD0", interopPointer, ifd0, "IFD0 Exif GPS IFD1"},
      {"Exif pointer past the block", exifPointer, 0xFFFFFFF0u, "IFD0 GPS IFD1"},
      {"Exif pointer into the TIFF header", exifPointer, 2, "IFD0 GPS IFD1"},
      {"next pointer past the block", nextOfIfd0, 0x7FFFFFFFu, "IFD0 Exif GPS Interop"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    bytes b = built;
    patcher{b, big()}.u32(r.at, r.to);
    auto p = parse(b);
    std::string names;
    for (const auto& d : p->e.directories()) names += (names.empty() ? "" : " ") + std::string(d->name());
    EXPECT_EQ(names, r.dirs);
    // Every directory's fields appear once.
    EXPECT_EQ(found(p->e, 0x010F), "IFD0: Maker");
    EXPECT_EQ(p->e.directories()[0]->fields().size(), 6u);
  }
}

TEST_P(ExifOrder, ASubDirectoryPointerIsTheFirstValueOfAShortLongOrIfdField) {
  tiffWriter w = cameraBlock(big());
  const bytes built = w.build();
  const size_t exifPointer = entryAt(w, dir::ifd0, 4);
  const uint32_t exifAt = w.dirOffset(dir::exif), tail = static_cast<uint32_t>(built.size());
  struct row {
    const char* what;
    uint16_t type;
    uint32_t count, value;
    bool followed;
  } rows[] = {
      {"LONG", 4, 1, exifAt, true},
      {"IFD", 13, 1, exifAt, true},
      {"two LONGs stored at the end of the block", 4, 2, tail, true},
      {"SHORT", 3, 1, big() ? exifAt << 16 : exifAt, true},
      {"ASCII", 2, 4, exifAt, false},
      {"no value", 4, 0, exifAt, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    bytes b = built;
    const bytes first = w.u32(exifAt), second = w.u32(ifd0Offset);
    b.insert(b.end(), first.begin(), first.end());
    b.insert(b.end(), second.begin(), second.end());
    patcher patch{b, big()};
    patch.u16(exifPointer + 2, r.type);
    patch.u32(exifPointer + 4, r.count);
    patch.u32(exifPointer + 8, r.value);
    auto p = parse(b);
    std::string names;
    for (const auto& d : p->e.directories()) names += (names.empty() ? "" : " ") + std::string(d->name());
    EXPECT_EQ(names, r.followed ? "IFD0 Exif GPS Interop IFD1" : "IFD0 GPS IFD1");
    if (r.followed) {
      EXPECT_EQ(found(p->e, 0x9003), "Exif: 2004:01:05 10:00:00");
    }
  }
}

TEST_P(ExifOrder, ATableRunningPastTheBlockEndsItsDirectory) {
  // IFD0 holds four values that fit in their entries; the block is cut
  // inside its table (or after it) at every interesting place.
  tiffWriter w(big());
  w.shorts(dir::ifd0, 0x0100, {640})
      .shorts(dir::ifd0, 0x0101, {480})
      .shorts(dir::ifd0, 0x0112, {1})
      .shorts(dir::ifd0, 0x0128, {2})
      .shorts(dir::ifd1, 0x0103, {6});
  const bytes built = w.build();
  const char* const kept[] = {"IFD0[]", "IFD0[0100]", "IFD0[0100 0101]", "IFD0[0100 0101 0112]",
                              "IFD0[0100 0101 0112 0128]"};
  for (size_t entries = 0; entries <= 4; ++entries)
    for (size_t extra : {0, 5, 11}) {
      const size_t cut = entryAt(w, dir::ifd0, entries) + extra;
      SCOPED_TRACE("cut at " + std::to_string(cut));
      auto p = parse(bytes(built.begin(), built.begin() + static_cast<long>(cut)));
      // Past the table, IFD1's pointer is there but IFD1 is not (its count
      // alone is, 11 bytes on: a directory with no whole entry).
      std::string expect = kept[entries];
      if (entries == 4 && extra == 11) expect += " IFD1[]";
      EXPECT_EQ(layout(p->e), expect);
    }
  auto whole = parse(built);
  EXPECT_EQ(layout(whole->e), "IFD0[0100 0101 0112 0128] IFD1[0103]");

  // A sub-directory's table cut short keeps its first entries and what
  // came before it.
  tiffWriter s(big());
  s.ascii(dir::ifd0, 0x010F, "Maker").shorts(dir::exif, 0x8827, {100}).shorts(dir::exif, 0x9207, {5});
  const bytes sb = s.build();
  auto p = parse(bytes(sb.begin(), sb.begin() + static_cast<long>(entryAt(s, dir::exif, 1) + 7)));
  EXPECT_EQ(layout(p->e), "IFD0[010f 8769] Exif[8827]");
  EXPECT_EQ(found(p->e, 0x010F), "IFD0: Maker");
  EXPECT_EQ(found(p->e, 0x8827), "Exif: 100");
}

TEST_P(ExifOrder, HugeEntryCountsEndAtTheBlock) {
  // Every directory claims 0xFFFF entries; what follows the real tables is
  // read as entries until the block ends, and nothing is read past it.
  tiffWriter w = cameraBlock(big());
  bytes b = w.build();
  patcher patch{b, big()};
  for (dir d : {dir::ifd0, dir::exif, dir::gps, dir::interop, dir::ifd1})
    patch.u16(w.dirOffset(d), 0xFFFF);
  const std::string file = save(jpegWriter().photo(b));
  EXPECT_LE(heapKeptByParsing(file), static_cast<long long>(b.size()) + bookkeeping);
  parsedPhoto p(file);
  EXPECT_EQ(found(p.e, 0x010F), "IFD0: Maker");
  ASSERT_FALSE(p.e.directories().empty());
  EXPECT_LE(p.e.directories()[0]->fields().size(), b.size() / 12);
}

TEST_P(ExifOrder, BrokenHeadersAndIfd0OutsideTheBlockAreReported) {
  // The TIFF data starts at file offset 30 (SOI, APP0, APP1 header).
  const bytes good = tiffWriter(big()).dateTimeOriginal("2004:01:05 10:00:00").build();
  auto withIfd0At = [&](uint32_t at) {
    bytes b = good;
    patcher{b, big()}.u32(4, at);
    return b;
  };
  const bytes mark = big() ? bytes{'M', 'M'} : bytes{'I', 'I'};
  auto header = [&](std::initializer_list<unsigned char> rest) {
    bytes b = mark;
    b.insert(b.end(), rest);
    return b;
  };
  const std::string noMark = "chronel: x.jpg has a damaged EXIF block: no TIFF byte-order mark at offset 30.";
  const std::string noHeader = "chronel: x.jpg has a damaged EXIF block: no TIFF header at offset 30.";
  const std::string outside = "chronel: x.jpg has a damaged EXIF block: IFD0 lies outside the block at offset 34.";
  struct row {
    const char* what;
    bytes block;
    std::string report;
  } rows[] = {
      {"empty block", {}, noMark},
      {"one byte", {'I'}, noMark},
      {"mixed mark", {'I', 'M', 42, 0, 8, 0, 0, 0}, noMark},
      {"lower-case mark", {'i', 'i', 42, 0, 8, 0, 0, 0}, noMark},
      {"no magic", mark, noHeader},
      {"magic 43", big() ? header({0, 43, 0, 0, 0, 8}) : header({43, 0, 8, 0, 0, 0}), noHeader},
      {"magic in the other order", big() ? header({42, 0, 0, 0, 0, 8}) : header({0, 42, 8, 0, 0, 0}),
       noHeader},
      {"IFD0 pointer cut", big() ? header({0, 42, 0, 0}) : header({42, 0, 0, 0}), noHeader},
      {"block ends after the header", big() ? header({0, 42, 0, 0, 0, 8}) : header({42, 0, 8, 0, 0, 0}),
       outside},
      {"IFD0 at 0xFFFFFFFF", withIfd0At(0xFFFFFFFFu), outside},
      {"IFD0 at the end of the block", withIfd0At(static_cast<uint32_t>(good.size())), outside},
      {"IFD0 count cut by the end", withIfd0At(static_cast<uint32_t>(good.size() - 1)), outside},
      {"IFD0 inside the TIFF header", withIfd0At(0), outside},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(failureOfBlock(r.block), r.report);
  }
  // The offset is the file's: a comment before the EXIF segment moves it.
  jpegWriter w;
  w.soi().com("moved").app1Exif(withIfd0At(0x10000)).frameHeaders().sos().raw({1}).eoi();
  EXPECT_EQ(failure(save(w)),
            "chronel: x.jpg has a damaged EXIF block: IFD0 lies outside the block at offset 25.");
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ExifOrder, ::testing::Values(false, true), orderName);

TEST_F(ExifFixture, FilesWithoutAnExifBlockOrThatDoNotOpen) {
  EXPECT_EQ(failure(save(jpegWriter().photo())), "chronel: x.jpg has no EXIF data.");
  jpegWriter other;
  other.soi().app0Jfif().segment(0xE1, toBytes(std::string("Other\0\0II*", 10))).frameHeaders().sos().raw({1}).eoi();
  EXPECT_EQ(failure(save(other)), "chronel: x.jpg has no EXIF data.");
  EXPECT_EQ(failure(tmp / "missing.jpg"), "chronel: unable to open x.jpg: No such file or directory.");
}

TEST(KnownTags, NamesTheTagsCamerasWrite) {
  const struct {
    unsigned short value;
    const char* name;
  } rows[] = {
      {0x9003, "DateTimeOriginal"}, {0x9004, "DateTimeDigitized"}, {0x0132, "DateTime"},
      {0x010F, "Make"},             {0x0110, "Model"},             {0x0112, "Orientation"},
      {0x8769, "ExifIFDPointer"},   {0x8825, "GPSInfoIFDPointer"}, {0xA005, "InteroperabilityIFDPointer"},
      {0x927C, "MakerNote"},        {0x9286, "UserComment"},       {0x829A, "ExposureTime"},
      {0x0000, "GPSVersionID"},     {0x001F, "GPSHPositioningError"}, {0x00FE, "NewSubfileType"},
      {0xA434, "LensModel"},        {0xA500, "Gamma"},
  };
  for (const auto& r : rows) {
    const tag* t = exifTag::find(r.value);
    ASSERT_NE(t, nullptr) << std::hex << r.value;
    EXPECT_EQ(t->value(), r.value);
    EXPECT_STREQ(t->name(), r.name);
  }
  for (unsigned short unknown : {0x0020, 0x00FD, 0x9999, 0xA501, 0xFFFF})
    EXPECT_EQ(exifTag::find(unknown), nullptr) << std::hex << unknown;
}

TEST(KnownTags, TheTableIsSortedSoEveryEntryCanBeFound) {
  ASSERT_LT(exifTag::begin(), exifTag::end());
  for (const tag* t = exifTag::begin(); t != exifTag::end(); ++t) {
    if (t != exifTag::begin()) {
      EXPECT_LT(t[-1].value(), t->value()) << t->name();
    }
    EXPECT_EQ(exifTag::find(t->value()), t) << t->name();
    EXPECT_TRUE(t->name() && *t->name()) << std::hex << t->value();
  }
}

TEST(BlockStream, ReadsCopyWhatIsInsideAndZeroTheRest) {
  const unsigned char data[] = {'a', 'b', 'c', 'd', 'e', 'f'};
  mstream m{byteReader(data, sizeof data)};
  struct row {
    unsigned long seek, n;
    unsigned long got;
    std::string expect;
    unsigned long after;
  } rows[] = {
      {0, 6, 6, "abcdef", 6},
      {2, 2, 2, "cd", 4},
      {4, 5, 2, std::string("ef\0\0\0", 5), 6},
      {6, 3, 0, std::string(3, '\0'), 6},
      {0xFFFFFFFFul, 4, 0, std::string(4, '\0'), 0xFFFFFFFFul},
      {3, 0, 0, "", 3},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.seek);
    std::string out(r.n, 'x');
    m = r.seek;
    EXPECT_EQ(m.read(&out[0], r.n), r.got);
    EXPECT_EQ(out, r.expect);
    EXPECT_EQ(m.tell(), r.after);
  }
  const unsigned char* p = nullptr;
  m = 5;
  EXPECT_FALSE(m.view(2, p));
  EXPECT_EQ(m.tell(), 5u);
  EXPECT_TRUE(m.view(1, p));
  EXPECT_EQ(*p, 'f');
  m = 0xFFFFFFFFul;
  EXPECT_FALSE(m.view(1, p));
}

}  // namespace
