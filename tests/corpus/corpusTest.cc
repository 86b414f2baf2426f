// The damaged-file corpus: every tool over a few hundred broken photographs
// and over files that are not photographs at all.
//
// The corpus is made afresh by each test from good photographs (written by
// the test writer, plus the repository's samples) by flipping bytes,
// truncating, and rewriting segment lengths and the count, offset and
// pointer fields of the EXIF directories, with a fixed seed; to those come
// hand-made hostile files (directory loops, huge counts, offsets past the
// end, a full 64 KB EXIF segment, long directory chains, ...).
//
// Whatever a file holds, every tool must exit with 0 within a bounded time,
// write a report line (or its open-failure line) for what it cannot handle
// and nothing else, and leave every file alone except for its own outputs
// (sonlift's .wav files, chronel -m's modification times).  The tools also
// check each other: glossel's comments and sonlift's audio must be exactly
// the bytes of the segments that segdump lists, and chronel's plain line,
// its PHP line and the modification time it sets must agree.
//
// ORVANE_CORPUS_WRAPPER (a full path and its options, for instance
// "/usr/bin/valgrind -q --error-exitcode=99 --leak-check=full")
// runs every tool under a checker; ORVANE_CORPUS_TIMEOUT_SCALE stretches the
// time limits for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

// ---------------------------------------------------------------------------
// Deterministic randomness, the same on every platform (the standard
// distributions are not).

class rng {
 public:
  explicit rng(uint64_t seed) : r_state(seed) {}
  uint64_t next() {
    uint64_t z = (r_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number in [0, n).
  size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }

 private:
  uint64_t r_state;
};

// ---------------------------------------------------------------------------
// Good photographs to start from.

// "RIFF", the length of what follows, "WAVE", then n bytes.
bytes riffStream(size_t n) {
  bytes b = toBytes("RIFF");
  const uint32_t len = static_cast<uint32_t>(n + 4);
  for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(len >> (8 * k)));
  const bytes wave = toBytes("WAVE");
  b.insert(b.end(), wave.begin(), wave.end());
  for (size_t i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(i * 7 + 3));
  return b;
}

// An EXIF block with every directory and entries of many types.
bytes richTiff(bool big) {
  tiffWriter t(big);
  t.ascii(dir::ifd0, 0x010F, "Maker").ascii(dir::ifd0, 0x0110, "Model 1");
  t.shorts(dir::ifd0, 0x0112, {1}).rational(dir::ifd0, 0x011A, 72, 1);
  t.ascii(dir::ifd0, 0x0132, "2004:01:05 10:00:00");
  t.dateTimeOriginal(big ? "2011:07:14 18:30:05" : "2004:01:05 10:00:00");
  t.undefined(dir::exif, 0x9000, {'0', '2', '3', '0'});
  t.undefined(dir::exif, 0x927C, bytes(40, 0xA5));
  t.longs(dir::exif, 0xA002, {640}).longs(dir::exif, 0xA003, {480, 1, 2});
  t.add(dir::exif, 0x9204, 10, 1, bytes(8, 0xFF));     // SRATIONAL
  t.add(dir::exif, 0x920A, 11, 2, bytes(8, 0x40));     // FLOAT
  t.add(dir::exif, 0x9203, 12, 1, bytes(8, 0x3F));     // DOUBLE
  t.add(dir::exif, 0xA300, 6, 3, {0x80, 0x01, 0x7F});  // SBYTE
  t.ascii(dir::gps, 0x0001, "N").rational(dir::gps, 0x0002, 48, 1);
  t.ascii(dir::interop, 0x0001, "R98").undefined(dir::interop, 0x0002, {'0', '1', '0', '0'});
  t.shorts(dir::ifd1, 0x0103, {6}).longs(dir::ifd1, 0x0201, {0}).longs(dir::ifd1, 0x0202, {0});
  return t.build();
}

bytes stuffedData(size_t n, unsigned seed) {
  bytes b;
  for (size_t i = 0; i < n; ++i) {
    b.push_back(static_cast<unsigned char>(i * 31 + seed));
    if (b.back() == 0xFF) b.push_back(0);
  }
  return b;
}

// A camera-like photograph: EXIF, comments, four APP2 headers and three
// audio segments, restart markers, and a second scan after more tables.
bytes richPhoto(bool big) {
  jpegWriter w;
  w.soi().app0Jfif().app1Exif(richTiff(big)).com("first comment").com("second\ncomment");
  for (int i = 0; i < 4; ++i) w.segment(0xE2, bytes(20, static_cast<unsigned char>('A' + i)));
  const bytes riff = riffStream(200);
  bytes first(45 - 4, 0x11);
  first.insert(first.end(), riff.begin(), riff.begin() + 80);
  w.segment(0xE2, first);
  for (int part = 0; part < 2; ++part) {
    bytes more(17 - 4, 0x22);
    more.insert(more.end(), riff.begin() + 80 + part * 60, riff.begin() + 140 + part * 60);
    w.segment(0xE2, more);
  }
  w.frameHeaders().segment(0xDD, {0, 2}).sos().raw(stuffedData(40, 1));
  for (uint8_t rst = 0xD0; rst <= 0xD3; ++rst) w.marker(rst).raw(stuffedData(10, rst));
  w.segment(0xC4, bytes(20, 0)).sos().raw(stuffedData(30, 9)).raw({0xFF, 0xFF});
  return w.eoi().data();
}

bytes fileBytes(const std::string& path) { return toBytes(readFile(path)); }

struct corpusFile {
  std::string name;
  std::string what;  // how it was made, for failure messages
  bytes data;
};

// ---------------------------------------------------------------------------
// Where the fields worth rewriting are: segment length fields, and the
// counts, offsets and pointers of the EXIF directories.

struct spots {
  std::vector<size_t> lengths;  // file positions of 16-bit segment lengths
  std::vector<size_t> tiff16;   // directory entry counts and entry types
  std::vector<size_t> tiff32;   // entry counts, value offsets, next pointers
  size_t tiffAt = 0, tiffSize = 0;
  bool big = false;
};

uint32_t get(const bytes& b, size_t at, int n, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    const uint32_t byte = at + i < b.size() ? b[at + i] : 0;
    v |= big ? byte << (8 * (n - 1 - i)) : byte << (8 * i);
  }
  return v;
}

void put(bytes& b, size_t at, int n, bool big, uint32_t v) {
  for (int i = 0; i < n && at + i < b.size(); ++i)
    b[at + i] = static_cast<unsigned char>(big ? v >> (8 * (n - 1 - i)) : v >> (8 * i));
}

void findDirectories(const bytes& f, spots& s, uint32_t dirAt, bool followNext, std::set<uint32_t>& seen) {
  if (dirAt < 8 || dirAt + 2 > s.tiffSize || !seen.insert(dirAt).second) return;
  const size_t base = s.tiffAt;
  s.tiff16.push_back(base + dirAt);
  const uint32_t count = get(f, base + dirAt, 2, s.big);
  size_t at = dirAt + 2;
  for (uint32_t i = 0; i < count && at + 12 <= s.tiffSize; ++i, at += 12) {
    s.tiff16.push_back(base + at + 2);
    s.tiff32.push_back(base + at + 4);
    s.tiff32.push_back(base + at + 8);
    const uint32_t tag = get(f, base + at, 2, s.big);
    if (tag == 0x8769 || tag == 0x8825 || tag == 0xA005)
      findDirectories(f, s, get(f, base + at + 8, 4, s.big), false, seen);
  }
  if (at + 4 <= s.tiffSize) {
    s.tiff32.push_back(base + at);
    if (followNext) findDirectories(f, s, get(f, base + at, 4, s.big), false, seen);
  }
}

spots findSpots(const bytes& f) {
  spots s;
  size_t pos = f.size() >= 2 && f[0] == 0xFF && f[1] == 0xD8 ? 2 : 0;
  while (pos + 4 <= f.size() && f[pos] == 0xFF) {
    const unsigned code = f[pos + 1];
    if (code == 0xD9 || code == 0xDA) break;
    const size_t len = get(f, pos + 2, 2, true);
    s.lengths.push_back(pos + 2);
    if (code == 0xE1 && !s.tiffSize && len >= 16 && pos + 2 + len <= f.size() &&
        std::memcmp(&f[pos + 4], "Exif\0\0", 6) == 0) {
      s.tiffAt = pos + 10;
      s.tiffSize = len - 8;
      s.big = f[s.tiffAt] == 'M';
      s.tiff32.push_back(s.tiffAt + 4);
      std::set<uint32_t> seen;
      findDirectories(f, s, get(f, s.tiffAt + 4, 4, s.big), true, seen);
    }
    pos += 2 + len;
  }
  // Segments after the first scan (tables of a progressive file).
  for (size_t i = pos; i + 4 <= f.size(); ++i)
    if (f[i] == 0xFF && (f[i + 1] == 0xC4 || f[i + 1] == 0xDA || f[i + 1] == 0xFE))
      s.lengths.push_back(i + 2);
  return s;
}

// Values that have broken EXIF readers: zero, small, the block's own size
// and its neighbours, and numbers whose products with a unit size wrap.
uint32_t hostile32(rng& r, const spots& s) {
  const uint32_t size = static_cast<uint32_t>(s.tiffSize);
  const uint32_t values[] = {0,          1,          4,          5,          8,
                             size - 1,   size,       size + 1,   size - 4,   0xFFFFFFFFu,
                             0xFFFFFFFEu, 0x7FFFFFFFu, 0x80000000u, 0x40000000u, 0x20000000u,
                             0x1FFFFFFFu, 0x10000000u, 0xFFFFFFF8u, 0xFFFF,     0x10000};
  if (r.below(4) == 0) return static_cast<uint32_t>(r.next());
  return values[r.below(sizeof values / sizeof values[0])];
}

uint16_t hostile16(rng& r) {
  const uint16_t values[] = {0, 1, 2, 3, 4, 5, 0xFFFF, 0xFFFE, 0x8000, 0x7FFF, 0x100};
  if (r.below(4) == 0) return static_cast<uint16_t>(r.next());
  return values[r.below(sizeof values / sizeof values[0])];
}

// ---------------------------------------------------------------------------
// Hand-made hostile files.

// IFD0's next pointer and the sub-directory pointers can be turned back on
// directories already read.
bytes withPointer(bool big, int which) {
  tiffWriter t(big);
  t.ascii(dir::ifd0, 0x010F, "Maker").dateTimeOriginal("2004:01:05 10:00:00");
  t.ascii(dir::gps, 0x0001, "N").ascii(dir::interop, 0x0001, "R98");
  t.shorts(dir::ifd1, 0x0103, {6});
  bytes b = t.build();
  const uint32_t ifd0 = t.dirOffset(dir::ifd0), exif = t.dirOffset(dir::exif);
  auto entryValue = [&](uint32_t dirAt, uint16_t tag) -> size_t {
    const uint32_t n = get(b, dirAt, 2, big);
    for (uint32_t i = 0; i < n; ++i)
      if (get(b, dirAt + 2 + 12 * i, 2, big) == tag) return dirAt + 2 + 12 * i + 8;
    return 0;
  };
  auto nextOf = [&](uint32_t dirAt) { return dirAt + 2 + 12 * get(b, dirAt, 2, big); };
  switch (which) {
    case 0: put(b, nextOf(ifd0), 4, big, ifd0); break;                            // IFD0 -> IFD0
    case 1: put(b, entryValue(ifd0, 0x8769), 4, big, ifd0); break;                // Exif -> IFD0
    case 2: put(b, entryValue(exif, 0xA005), 4, big, exif); break;                // Interop -> Exif
    case 3: put(b, entryValue(ifd0, 0x8825), 4, big, exif); break;                // GPS -> Exif
    case 4: put(b, nextOf(t.dirOffset(dir::ifd1)), 4, big, ifd0); break;          // IFD1 -> IFD0
    case 5: put(b, entryValue(ifd0, 0x8769), 4, big, t.dirOffset(dir::ifd1)); break;  // Exif -> IFD1
    case 6: put(b, entryValue(ifd0, 0x8769), 4, big, ifd0 + 2); break;            // into a table
  }
  return b;
}

// Every TIFF type with a count of 0xFFFFFFFF (or another count whose size
// wraps in 32 bits) at offset 8.
bytes hugeCounts(bool big, uint32_t count) {
  tiffWriter t(big);
  for (uint16_t type = 1; type <= 13; ++type)
    t.add(dir::ifd0, static_cast<uint16_t>(0x9000 + type), type, count, t.u32(8));
  t.add(dir::exif, 0x9003, 2, count, t.u32(8));
  return t.build();
}

// Values that start past the end of the block, or run past it.
bytes offsetsPastTheEnd(bool big) {
  tiffWriter t(big);
  t.dateTimeOriginal("2004:01:05 10:00:00");
  bytes b = t.build();
  const uint32_t size = static_cast<uint32_t>(b.size());
  tiffWriter u(big);
  const uint32_t offsets[] = {size, size + 1, size - 19, size - 1, 0xFFFFFFFFu, 0xFFFFFFF0u};
  uint16_t tag = 0x9003;
  for (uint32_t off : offsets) {
    u.add(dir::exif, tag++, 2, 20, u.u32(off));
    u.add(dir::ifd0, tag++, 5, 3, u.u32(off));
  }
  return u.build();
}

// An APP1 segment of 64 KB whose directory is packed with entries, every
// one of them valid and large.
bytes packedApp1(bool big, uint16_t type, uint32_t count) {
  const size_t room = 65535 - 2 - 6;
  const size_t entries = (room - 8 - 2 - 4) / 12;
  bytes b = big ? bytes{'M', 'M', 0, 42} : bytes{'I', 'I', 42, 0};
  bytes tmp(4);
  put(tmp, 0, 4, big, 8);
  b.insert(b.end(), tmp.begin(), tmp.end());
  bytes n(2);
  put(n, 0, 2, big, static_cast<uint16_t>(entries));
  b.insert(b.end(), n.begin(), n.end());
  for (size_t i = 0; i < entries; ++i) {
    bytes e(12);
    put(e, 0, 2, big, i % 7 == 0 ? 0x9003 : static_cast<uint16_t>(0x100 + i));
    put(e, 2, 2, big, type);
    put(e, 4, 4, big, count);
    put(e, 8, 4, big, 8);
    b.insert(b.end(), e.begin(), e.end());
  }
  b.resize(room, 0);
  return b;
}

// A chain of directories, each one's next pointer naming the next one, and
// each one holding an Exif pointer to the one after it.
bytes deepChain(bool big, size_t depth) {
  bytes b = big ? bytes{'M', 'M', 0, 42} : bytes{'I', 'I', 42, 0};
  b.resize(8);
  put(b, 4, 4, big, 8);
  const size_t dirSize = 2 + 2 * 12 + 4;
  for (size_t i = 0; i < depth; ++i) {
    const uint32_t at = static_cast<uint32_t>(8 + i * dirSize);
    const uint32_t next = i + 1 < depth ? static_cast<uint32_t>(at + dirSize) : 0;
    bytes d(dirSize);
    put(d, 0, 2, big, 2);
    put(d, 2, 2, big, 0x8769);
    put(d, 4, 2, big, 4);
    put(d, 6, 4, big, 1);
    put(d, 10, 4, big, next);
    put(d, 14, 2, big, 0x9003);
    put(d, 16, 2, big, 2);
    put(d, 18, 4, big, 4);
    put(d, 22, 4, big, 0x3A303030);
    put(d, 26, 4, big, next);
    b.insert(b.end(), d.begin(), d.end());
  }
  return b;
}

std::vector<corpusFile> handMade() {
  std::vector<corpusFile> out;
  auto add = [&](const std::string& what, const bytes& b) { out.push_back({"", what, b}); };
  auto photo = [](const bytes& tiff) { return jpegWriter().photo(tiff).data(); };
  for (bool big : {false, true}) {
    const std::string order = big ? " (MM)" : " (II)";
    for (int which = 0; which < 7; ++which)
      add("directory loop " + std::to_string(which) + order, photo(withPointer(big, which)));
    for (uint32_t count : {0xFFFFFFFFu, 0x80000000u, 0x40000000u, 0x20000001u, 0x10000000u})
      add("huge counts " + std::to_string(count) + order, photo(hugeCounts(big, count)));
    add("offsets past the end" + order, photo(offsetsPastTheEnd(big)));
    add("64 KB APP1 of ASCII entries" + order, photo(packedApp1(big, 2, 65000)));
    add("64 KB APP1 of UNDEFINED entries" + order, photo(packedApp1(big, 7, 60000)));
    add("64 KB APP1 of LONG entries" + order, photo(packedApp1(big, 4, 16000)));
    add("64 KB APP1 of RATIONAL entries" + order, photo(packedApp1(big, 5, 8000)));
    add("deep directory chain" + order, photo(deepChain(big, 2000)));
    bytes badIfd0 = tiffWriter(big).dateTimeOriginal("2004:01:05 10:00:00").build();
    for (uint32_t at : {0u, 7u, 0xFFFFFFFFu, static_cast<uint32_t>(badIfd0.size())}) {
      put(badIfd0, 4, 4, big, at);
      add("IFD0 at " + std::to_string(at) + order, photo(badIfd0));
    }
    bytes manyEntries = tiffWriter(big).dateTimeOriginal("2004:01:05 10:00:00").build();
    put(manyEntries, 8, 2, big, 0xFFFF);
    add("IFD0 claims 65535 entries" + order, photo(manyEntries));
  }
  add("empty file", {});
  add("one byte", {0xFF});
  add("SOI only", {0xFF, 0xD8});
  add("SOI and a lone 0xFF", {0xFF, 0xD8, 0xFF});
  add("0xFF bytes", bytes(4096, 0xFF));
  add("zero bytes", bytes(4096, 0));
  add("text", toBytes("not a photograph\n"));
  add("EXIF header only", jpegWriter().app1Exif({}).data());
  add("EXIF without SOI", jpegWriter().app1Exif(richTiff(false)).eoi().data());
  add("EXIF with a TIFF header only", jpegWriter().soi().app1Exif({'I', 'I', 42, 0}).eoi().data());
  jpegWriter w;
  w.soi().segmentWithLength(0xFE, 65535, {1, 2, 3});
  add("segment claims 65535 bytes at the end", w.data());
  for (uint16_t len : {0, 1}) {
    jpegWriter l;
    l.soi().app0Jfif().segmentWithLength(0xE1, len, {}).eoi();
    add("APP1 with length field " + std::to_string(len), l.data());
  }
  jpegWriter noEoi;
  noEoi.soi().frameHeaders().sos().raw(stuffedData(3000, 5));
  add("scan without EOI", noEoi.data());
  jpegWriter restarts;
  restarts.soi().frameHeaders().sos();
  for (int i = 0; i < 5000; ++i) restarts.marker(static_cast<uint8_t>(0xD0 + i % 8));
  add("5000 restart markers", restarts.eoi().data());
  jpegWriter fill;
  fill.soi().raw(bytes(20000, 0xFF)).app0Jfif().eoi();
  add("20000 fill bytes", fill.data());
  jpegWriter comments;
  comments.soi();
  for (int i = 0; i < 1000; ++i) comments.com(i % 2 ? std::string("\0x\n", 3) : "");
  add("1000 comments", comments.eoi().data());
  jpegWriter app2s;
  app2s.soi();
  for (int i = 0; i < 30; ++i) app2s.segment(0xE2, bytes(static_cast<size_t>(i * 3), 0x5A));
  add("30 APP2 segments, short ones among them", app2s.eoi().data());
  jpegWriter afterEoi;
  afterEoi.soi().app0Jfif().eoi().raw(bytes(1000, 0xFF)).com("hidden");
  add("bytes after EOI", afterEoi.data());
  jpegWriter badMarker;
  badMarker.soi().app0Jfif().raw({0xFF, 0x00, 0x12}).eoi();
  add("FF 00 where a marker belongs", badMarker.data());
  return out;
}

// ---------------------------------------------------------------------------
// The whole corpus, in a fixed order with fixed names.

std::vector<corpusFile> buildCorpus() {
  std::vector<std::pair<std::string, bytes>> bases = {
      {"rich photo (II)", richPhoto(false)},
      {"rich photo (MM)", richPhoto(true)},
      {"EXIF file without SOI", jpegWriter().app1Exif(richTiff(true)).com("c").eoi().data()},
  };
  for (const char* sample : {"plain.jpg", "bigendian.jpg", "comments.jpg", "audio.jpg", "nodate.jpg"}) {
    bytes b = fileBytes(std::string(ORVANE_SAMPLES) + "/" + sample);
    if (!b.empty()) bases.push_back({std::string("sample ") + sample, b});
  }

  std::vector<corpusFile> out;
  rng r(20040105);
  for (const auto& [baseName, base] : bases) {
    out.push_back({"", baseName, base});
    const spots s = findSpots(base);
    for (int i = 0; i < 14; ++i) {  // flipped bytes
      bytes b = base;
      const size_t flips = 1 + r.below(4);
      for (size_t k = 0; k < flips; ++k) b[r.below(b.size())] ^= static_cast<unsigned char>(1 + r.below(255));
      out.push_back({"", baseName + ", " + std::to_string(flips) + " bytes flipped", b});
    }
    for (int i = 0; i < 6; ++i) {  // truncated
      const size_t at = r.below(base.size());
      out.push_back({"", baseName + ", cut at " + std::to_string(at), bytes(base.begin(), base.begin() + at)});
    }
    for (int i = 0; i < 10 && !s.lengths.empty(); ++i) {  // segment lengths
      bytes b = base;
      const size_t at = s.lengths[r.below(s.lengths.size())];
      const uint16_t v = r.below(3) ? hostile16(r) : static_cast<uint16_t>(get(b, at, 2, true) + (r.below(2) ? 1 : -1));
      put(b, at, 2, true, v);
      out.push_back({"", baseName + ", segment length at " + std::to_string(at) + " set to " + std::to_string(v), b});
    }
    for (int i = 0; i < 12 && !s.tiff32.empty(); ++i) {  // EXIF counts, offsets, pointers
      bytes b = base;
      std::string what = baseName;
      for (size_t k = 0, n = 1 + r.below(3); k < n; ++k) {
        const size_t at = s.tiff32[r.below(s.tiff32.size())];
        const uint32_t v = hostile32(r, s);
        put(b, at, 4, s.big, v);
        what += ", EXIF field at " + std::to_string(at) + " set to " + std::to_string(v);
      }
      out.push_back({"", what, b});
    }
    for (int i = 0; i < 6 && !s.tiff16.empty(); ++i) {  // entry counts and types
      bytes b = base;
      const size_t at = s.tiff16[r.below(s.tiff16.size())];
      const uint16_t v = hostile16(r);
      put(b, at, 2, s.big, v);
      out.push_back({"", baseName + ", EXIF count or type at " + std::to_string(at) + " set to " + std::to_string(v), b});
    }
  }
  for (corpusFile& f : handMade()) out.push_back(std::move(f));
  char name[32];
  for (size_t i = 0; i < out.size(); ++i) {
    std::snprintf(name, sizeof name, "c%03zu.jpg", i);
    out[i].name = name;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Running the tools.

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep))
    if (!cur.empty() || sep == '\n') out.push_back(cur);
  return out;
}

double timeoutScale() {
  const char* s = std::getenv("ORVANE_CORPUS_TIMEOUT_SCALE");
  const double v = s ? std::atof(s) : 1;
  return v > 0 ? v : 1;
}

// Runs a tool (under the checker named in ORVANE_CORPUS_WRAPPER, if any),
// allowing each file argument a bounded time.
toolResult runOn(const std::string& tool, const std::vector<std::string>& args, const std::string& cwd,
                 bool unprivileged = false) {
  std::vector<std::string> argv;
  std::string program = tool;
  if (const char* w = std::getenv("ORVANE_CORPUS_WRAPPER")) {
    std::vector<std::string> words = split(w, ' ');
    if (!words.empty()) {
      program = words[0];
      argv.assign(words.begin() + 1, words.end());
      argv.push_back(tool);
    }
  }
  argv.insert(argv.end(), args.begin(), args.end());
  runOptions o;
  o.env = {"TZ=UTC0", "LC_ALL=C"};
  o.cwd = cwd;
  o.unprivileged = unprivileged;
  o.timeoutSeconds = (10 + 2.0 * args.size()) * timeoutScale();
  return runTool(program, argv, o);
}

struct snapshot {
  std::string content;
  struct timespec mtime;
};

std::map<std::string, snapshot> snapshotDir(const std::string& dir, const std::vector<corpusFile>& files) {
  std::map<std::string, snapshot> out;
  for (const corpusFile& f : files) {
    struct stat st = {};
    stat((dir + "/" + f.name).c_str(), &st);
    out[f.name] = {readFile(dir + "/" + f.name), st.st_mtim};
  }
  return out;
}

// The report lines of one run, checked for shape: each names one argument,
// at most once, in argument order.  Returns the argument each line names.
std::map<std::string, std::string> reportLines(const toolResult& r, const std::vector<std::string>& names,
                                               const std::string& tool) {
  std::map<std::string, std::string> out;
  size_t next = 0;
  for (const std::string& line : split(r.err, '\n')) {
    bool matched = false;
    for (size_t i = next; i < names.size() && !matched; ++i) {
      const std::string& n = names[i];
      const size_t at = line.find(" " + n);
      if (line.rfind("chronel:", 0) == 0 && line.size() > 1 && line.back() == '.' && at != std::string::npos) {
        out[n] = line;
        next = i + 1;
        matched = true;
      }
    }
    EXPECT_TRUE(matched) << tool << " wrote a line that is no report line: " << line;
  }
  return out;
}

struct marker {
  std::string name;
  size_t len, offset;
};
struct listing {
  bool listed = false;
  std::vector<marker> markers;
};

// segdump's output, file by file.
std::map<std::string, listing> parseSegdump(const toolResult& r, const std::vector<std::string>& names) {
  std::map<std::string, listing> out;
  static const std::regex markerLine("  marker type ([A-Z0-9_?x]+), len = ([0-9]+), offset = ([0-9]+), addr = 0x[0-9a-f]+");
  listing* current = nullptr;
  std::set<std::string> known(names.begin(), names.end());
  for (const std::string& line : split(r.out, '\n')) {
    std::smatch m;
    if (line.rfind("JFIF file ", 0) == 0 && line.back() == ':') {
      const std::string n = line.substr(10, line.size() - 11);
      EXPECT_TRUE(known.count(n) && !out.count(n)) << "segdump: unexpected header " << line;
      current = &out[n];
      current->listed = true;
    } else if (std::regex_match(line, m, markerLine) && current) {
      current->markers.push_back({m[1], std::stoul(m[2]), std::stoul(m[3])});
    } else {
      ADD_FAILURE() << "segdump wrote an unexpected line: " << line;
    }
  }
  return out;
}

class DamagedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    corpus = buildCorpus();
    for (const corpusFile& f : corpus) {
      writeFile(dir / f.name, std::string(f.data.begin(), f.data.end()));
      names.push_back(f.name);
      byName[f.name] = &f;
    }
    before = snapshotDir(dir.path(), corpus);
  }

  // Runs the tool over the corpus in batches, as a user would over a folder.
  std::vector<std::pair<std::vector<std::string>, toolResult>> runAll(const std::string& tool,
                                                                      const std::vector<std::string>& options,
                                                                      const std::string& cwd) {
    std::vector<std::pair<std::vector<std::string>, toolResult>> out;
    const size_t batch = 50;
    for (size_t i = 0; i < names.size(); i += batch) {
      std::vector<std::string> part(names.begin() + i, names.begin() + std::min(names.size(), i + batch));
      std::vector<std::string> args = options;
      args.insert(args.end(), part.begin(), part.end());
      toolResult r = runOn(tool, args, cwd);
      EXPECT_EQ(r.status, 0) << tool << " on " << part.front() << ".." << part.back()
                             << (r.status == -2 ? " did not finish in time" : "") << "\n"
                             << r.err.substr(0, 4000);
      out.push_back({part, r});
    }
    return out;
  }

  void expectUntouched(const std::string& after) {
    const auto now = snapshotDir(dir.path(), corpus);
    for (const corpusFile& f : corpus) {
      EXPECT_EQ(now.at(f.name).content, before.at(f.name).content) << after << " changed " << f.name;
      EXPECT_TRUE(now.at(f.name).mtime.tv_sec == before.at(f.name).mtime.tv_sec &&
                  now.at(f.name).mtime.tv_nsec == before.at(f.name).mtime.tv_nsec)
          << after << " changed the modification time of " << f.name;
    }
  }

  std::string bytesOf(const std::string& name, size_t from, size_t to) const {
    const bytes& b = byName.at(name)->data;
    if (from > to || to > b.size()) {
      ADD_FAILURE() << name << ": segment " << from << ".." << to << " lies outside the file";
      return "";
    }
    return std::string(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
  }

  std::vector<corpusFile> corpus;
  std::vector<std::string> names;
  std::map<std::string, const corpusFile*> byName;
  std::map<std::string, snapshot> before;
  tempDir dir;
};

// ORVANE_CORPUS_DIR names a folder to keep a copy of the corpus in (CI runs
// the tools of two builds over it and compares what they print).
TEST_F(DamagedFiles, CorpusIsLargeAndVaried) {
  if (const char* keep = std::getenv("ORVANE_CORPUS_DIR"))
    for (const corpusFile& f : corpus)
      writeFile(std::string(keep) + "/" + f.name, std::string(f.data.begin(), f.data.end()));
  EXPECT_GE(corpus.size(), 300u);
  std::set<std::string> contents;
  for (const corpusFile& f : corpus) contents.insert(std::string(f.data.begin(), f.data.end()));
  EXPECT_GE(contents.size(), corpus.size() * 9 / 10) << "too many mutations left their file unchanged";
}

// segdump lists, glossel prints comments, sonlift cuts audio: all three
// must agree on every file, whatever state it is in.
TEST_F(DamagedFiles, MarkerToolsAgreeAndWriteOnlyReportLines) {
  const auto segdump = runAll(SEGDUMP, {}, dir.path());
  const auto glossel = runAll(GLOSSEL, {}, dir.path());
  expectUntouched("glossel");
  const auto sonlift = runAll(SONLIFT, {}, dir.path());

  size_t listedFiles = 0, damaged = 0, withAudio = 0, withComments = 0;
  std::set<std::string> expectedWav;
  for (size_t b = 0; b < segdump.size(); ++b) {
    const std::vector<std::string>& part = segdump[b].first;
    const toolResult &sd = segdump[b].second, &gl = glossel[b].second, &so = sonlift[b].second;
    const auto reports = reportLines(sd, part, "segdump");
    reportLines(gl, part, "glossel");
    const auto soReports = reportLines(so, part, "sonlift");
    // Every file opened, so the three tools report exactly the same failures,
    // but for sonlift's on a stream that is no RIFF WAVE stream.
    EXPECT_EQ(gl.err, sd.err) << "glossel and segdump report differently";
    auto lineOf = [](const std::map<std::string, std::string>& m, const std::string& n) {
      auto at = m.find(n);
      return at == m.end() ? std::string() : at->second;
    };

    const auto lists = parseSegdump(sd, part);
    std::string glosselOut, sonliftOut;
    for (const std::string& n : part) {
      const corpusFile& f = *byName.at(n);
      auto it = lists.find(n);
      if (it == lists.end()) {
        EXPECT_TRUE(reports.count(n)) << n << " (" << f.what << ") has neither listing nor report line";
        EXPECT_EQ(lineOf(soReports, n), lineOf(reports, n)) << "sonlift and segdump report differently";
        continue;
      }
      ++listedFiles;
      damaged += reports.count(n);
      glosselOut += n + ":\n";
      sonliftOut += "JFIF file " + n + ":\n";
      std::string audio;
      int app2 = 0;
      size_t lastEnd = 0;
      for (const marker& m : it->second.markers) {
        EXPECT_GE(m.offset, lastEnd) << n << ": markers overlap or go backwards";
        EXPECT_LE(m.offset + m.len, f.data.size()) << n << ": " << m.name << " runs past the file";
        EXPECT_EQ(bytesOf(n, m.offset, m.offset + 1), "\xFF") << n << ": no marker at " << m.offset;
        lastEnd = m.offset + m.len;
        if (m.name == "COM") {
          glosselOut += bytesOf(n, m.offset + 4, m.offset + m.len) + "\n";
          ++withComments;
        }
        if (m.name == "APP2" && ++app2 >= 5) {
          const size_t skip = app2 == 5 ? 45 : 17;
          if (m.len > skip) audio += bytesOf(n, m.offset + skip, m.offset + m.len);
        }
      }
      const bool riff = audio.size() >= 12 && audio.compare(0, 4, "RIFF") == 0 &&
                        audio.compare(8, 4, "WAVE") == 0;
      // No RIFF header: no audio, unless damage came before its twelve bytes.
      const bool noAudio = app2 >= 5 && !riff && (audio.size() >= 12 || !reports.count(n));
      if (noAudio) {
        const std::string line = lineOf(soReports, n);
        const std::string head = "chronel: " + n + " holds no audio: its fifth APP2 segment is ";
        const std::string tail = " data, not a RIFF stream.";
        EXPECT_TRUE(line.size() > head.size() + tail.size() && line.rfind(head, 0) == 0 &&
                    line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            << n << " (" << f.what << "): " << line;
      } else {
        EXPECT_EQ(lineOf(soReports, n), lineOf(reports, n)) << "sonlift and segdump report differently";
      }
      if (riff) {
        ++withAudio;
        sonliftOut += "RIFF file " + n + ".wav\n";
        expectedWav.insert(n + ".wav");
        EXPECT_EQ(readFile(dir / (n + ".wav")), audio) << n << " (" << f.what << "): wrong audio";
      }
    }
    EXPECT_EQ(gl.out, glosselOut) << "glossel's output differs from the comments segdump lists";
    EXPECT_EQ(so.out, sonliftOut) << "sonlift's output differs from the segments segdump lists";
  }
  // sonlift wrote its outputs and nothing else; no photograph changed.
  std::set<std::string> expected(names.begin(), names.end());
  expected.insert(expectedWav.begin(), expectedWav.end());
  EXPECT_EQ(listDir(dir.path()), expected);
  expectUntouched("segdump, glossel or sonlift");

  // The corpus reaches every outcome.
  EXPECT_GT(listedFiles, corpus.size() / 3);
  EXPECT_GT(damaged, 20u);
  EXPECT_GT(withAudio, 5u);
  EXPECT_GT(withComments, 20u);
}

// chronel: every file gets its time line or one report line; the plain
// line, the PHP line and the modification time set with -m agree.
TEST_F(DamagedFiles, ChronelOutputsAgreeAndOnlyModificationTimesChange) {
  const auto plain = runAll(CHRONEL, {}, dir.path());
  const auto php = runAll(CHRONEL, {"-p", "-q"}, dir.path());
  expectUntouched("chronel");

  tempDir copy;
  for (const corpusFile& f : corpus) writeFile(copy / f.name, std::string(f.data.begin(), f.data.end()));
  const auto copyBefore = snapshotDir(copy.path(), corpus);
  const auto setTimes = runAll(CHRONEL, {"-m", "-q"}, copy.path());
  const auto copyAfter = snapshotDir(copy.path(), corpus);

  static const std::regex phpLine("  \\$vx_image_times\\[\"(c[0-9]+\\.jpg)\"\\] = (-?[0-9]+);");
  size_t good = 0;
  for (size_t b = 0; b < plain.size(); ++b) {
    const std::vector<std::string>& part = plain[b].first;
    const auto reports = reportLines(plain[b].second, part, "chronel");
    EXPECT_EQ(php[b].second.err, plain[b].second.err) << "-p reports differently";
    EXPECT_EQ(setTimes[b].second.err, plain[b].second.err) << "-m reports differently";
    EXPECT_EQ(setTimes[b].second.out, "");

    std::map<std::string, std::string> lines;
    for (const std::string& line : split(plain[b].second.out, '\n')) {
      const size_t blank = line.rfind(' ');
      ASSERT_NE(blank, std::string::npos) << line;
      lines[line.substr(blank + 1)] = line.substr(0, blank);
    }
    std::map<std::string, long long> times;
    const std::vector<std::string> phpOut = split(php[b].second.out, '\n');
    ASSERT_GE(phpOut.size(), 2u);
    EXPECT_EQ(phpOut.front(), "<?php");
    EXPECT_EQ(phpOut.back(), "?>");
    for (size_t i = 1; i + 1 < phpOut.size(); ++i) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(phpOut[i], m, phpLine)) << phpOut[i];
      times[m[1]] = std::stoll(m[2]);
    }
    for (const std::string& n : part) {
      const bool ok = lines.count(n) != 0;
      EXPECT_NE(ok, reports.count(n) != 0) << n << " (" << byName.at(n)->what
                                           << ") needs exactly one time line or report line";
      EXPECT_EQ(times.count(n) != 0, ok) << n << ": -p and the plain line disagree";
      EXPECT_EQ(copyAfter.at(n).content, copyBefore.at(n).content) << "chronel -m changed " << n;
      if (!ok || !times.count(n)) {
        EXPECT_EQ(copyAfter.at(n).mtime.tv_sec, copyBefore.at(n).mtime.tv_sec) << n;
        continue;
      }
      ++good;
      const time_t t = static_cast<time_t>(times[n]);
      struct tm utc;
      char text[64] = "";
      ASSERT_TRUE(gmtime_r(&t, &utc) && asctime_r(&utc, text));
      text[std::strcspn(text, "\n")] = '\0';
      EXPECT_EQ(lines[n], text) << n << ": the plain line and the PHP line disagree";
      EXPECT_EQ(copyAfter.at(n).mtime.tv_sec, t) << n << ": -m set another time";
      EXPECT_EQ(copyAfter.at(n).mtime.tv_nsec, 0) << n;
    }
  }
  // The corpus reaches both outcomes.
  EXPECT_GT(good, 20u);
  EXPECT_GT(corpus.size() - good, 50u);
}

// ---------------------------------------------------------------------------
// Files that are no regular, readable files.

class OddFiles : public ::testing::Test {
 protected:
  tempDir dir;
};

// A file that starts with SOI and holds no marker after it is no JPEG
// file to any of the four tools (and not a damaged one to chronel).
TEST_F(OddFiles, AnSoiWithoutAMarkerAfterItIsNoJpegToEveryTool) {
  writeFile(dir / "soi.jpg", std::string("\xFF\xD8", 2));
  writeFile(dir / "soi-text.jpg", std::string("\xFF\xD8\x00\x10JFIF", 8));
  const std::string expected =
      "chronel: soi.jpg is not a JPEG or EXIF file.\n"
      "chronel: soi-text.jpg is not a JPEG or EXIF file.\n";
  for (const char* tool : {SEGDUMP, GLOSSEL, SONLIFT, CHRONEL}) {
    SCOPED_TRACE(tool);
    const toolResult r = runOn(tool, {"soi.jpg", "soi-text.jpg"}, dir.path());
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, expected);
  }
}

TEST_F(OddFiles, DirectoriesFifosDevicesAndMissingFilesNeverBlock) {
  ASSERT_EQ(mkdir((dir / "folder.jpg").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0644), 0);
  ASSERT_EQ(symlink("loop.jpg", (dir / "loop.jpg").c_str()), 0);
  ASSERT_EQ(symlink("nowhere.jpg", (dir / "dangling.jpg").c_str()), 0);
  const std::vector<std::string> args = {"folder.jpg", "fifo.jpg", "/dev/zero", "loop.jpg", "dangling.jpg"};
  const char* const why[] = {"Is a directory", "Invalid argument", "Invalid argument",
                             "Too many levels of symbolic links", "No such file or directory"};

  std::string openFailures, notJpeg, noExif;
  for (size_t i = 0; i < args.size(); ++i) {
    openFailures += "Unable to open file " + args[i] + ": " + why[i] + "\n";
    notJpeg += "chronel: " + args[i] + " is not a JPEG or EXIF file.\n";
    noExif += "chronel: unable to open " + args[i] + ": " + why[i] + ".\n";
  }
  toolResult r = runOn(SEGDUMP, args, dir.path());
  EXPECT_EQ(r.out, openFailures);
  EXPECT_EQ(r.err, notJpeg);
  EXPECT_EQ(r.status, 0);
  r = runOn(GLOSSEL, args, dir.path());
  EXPECT_EQ(r.out, openFailures);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  r = runOn(SONLIFT, args, dir.path());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, notJpeg);
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> chronelArgs = {"-m"};
  chronelArgs.insert(chronelArgs.end(), args.begin(), args.end());
  r = runOn(CHRONEL, chronelArgs, dir.path());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, noExif);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"folder.jpg", "fifo.jpg", "loop.jpg", "dangling.jpg"}));
}

TEST_F(OddFiles, UnreadableFileAsAnOrdinaryUser) {
  if (!canDropPrivileges()) GTEST_SKIP() << "no unprivileged user to run as";
  jpegWriter().photo(richTiff(false)).save(dir / "locked.jpg");
  ASSERT_EQ(chmod((dir / "locked.jpg").c_str(), 0), 0);
  struct stat st0 = {};
  stat((dir / "locked.jpg").c_str(), &st0);

  toolResult r = runOn(SEGDUMP, {"locked.jpg"}, dir.path(), true);
  EXPECT_EQ(r.out, "Unable to open file locked.jpg: Permission denied\n");
  EXPECT_EQ(r.err, "chronel: locked.jpg is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
  r = runOn(GLOSSEL, {"locked.jpg"}, dir.path(), true);
  EXPECT_EQ(r.out, "Unable to open file locked.jpg: Permission denied\n");
  EXPECT_EQ(r.err, "");
  r = runOn(SONLIFT, {"locked.jpg"}, dir.path(), true);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: locked.jpg is not a JPEG or EXIF file.\n");
  r = runOn(CHRONEL, {"-m", "locked.jpg"}, dir.path(), true);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: unable to open locked.jpg: Permission denied.\n");
  EXPECT_EQ(r.status, 0);

  struct stat st1 = {};
  stat((dir / "locked.jpg").c_str(), &st1);
  EXPECT_EQ(st1.st_mtim.tv_sec, st0.st_mtim.tv_sec);
  EXPECT_EQ(st1.st_mtim.tv_nsec, st0.st_mtim.tv_nsec);
  EXPECT_EQ(st1.st_mode & 07777, 0u);
}

// A photograph followed by a hole that makes the file larger than 4 GiB.
// A 64-bit build handles it like the photograph alone (nothing past EOI is
// read); a 32-bit build cannot hold an image that large and reports the
// file as too large to open, cleanly.
TEST_F(OddFiles, SparseFileLargerThan4GiB) {
  const bytes head = richPhoto(false);
  jpegWriter().raw(head).save(dir / "small.jpg");
  jpegWriter().raw(head).save(dir / "big.jpg");
  const off_t bigSize = (off_t(1) << 32) + 4096;
  {
    const int fd = open((dir / "big.jpg").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const bool grown = ftruncate(fd, bigSize) == 0;
    close(fd);
    if (!grown) GTEST_SKIP() << "this file system cannot hold a file larger than 4 GiB";
  }
  struct stat st = {};
  ASSERT_EQ(stat((dir / "big.jpg").c_str(), &st), 0);
  if (st.st_blocks * 512 > (off_t(64) << 20)) GTEST_SKIP() << "this file system has no sparse files";
  ASSERT_EQ(st.st_size, bigSize);

  const bool narrow = sizeof(void*) < 8;
  // A listing with the addresses (which differ from run to run) blanked out.
  auto same = [](const std::string& s) {
    return std::regex_replace(s, std::regex("addr = 0x[0-9a-f]+"), "addr = ADDR");
  };

  toolResult big = runOn(SEGDUMP, {"big.jpg"}, dir.path());
  toolResult small = runOn(SEGDUMP, {"small.jpg"}, dir.path());
  EXPECT_EQ(big.status, 0);
  if (narrow) {
    EXPECT_EQ(big.out, "Unable to open file big.jpg: File too large\n");
    EXPECT_EQ(big.err, "chronel: big.jpg is not a JPEG or EXIF file.\n");
  } else {
    EXPECT_EQ(same(big.out), std::regex_replace(same(small.out), std::regex("small"), "big"));
    EXPECT_EQ(big.err, "");
  }

  big = runOn(GLOSSEL, {"big.jpg"}, dir.path());
  EXPECT_EQ(big.out, narrow ? "Unable to open file big.jpg: File too large\n"
                            : "big.jpg:\nfirst comment\nsecond\ncomment\n");
  EXPECT_EQ(big.err, "");

  big = runOn(SONLIFT, {"big.jpg"}, dir.path());
  small = runOn(SONLIFT, {"small.jpg"}, dir.path());
  if (narrow) {
    EXPECT_EQ(big.out, "");
    EXPECT_EQ(big.err, "chronel: big.jpg is not a JPEG or EXIF file.\n");
  } else {
    EXPECT_EQ(big.out, "JFIF file big.jpg:\nRIFF file big.jpg.wav\n");
    EXPECT_EQ(big.err, "");
    EXPECT_EQ(readFile(dir / "big.jpg.wav"), readFile(dir / "small.jpg.wav"));
  }

  big = runOn(CHRONEL, {"-m", "big.jpg"}, dir.path());
  EXPECT_EQ(big.out, narrow ? "" : "Mon Jan  5 10:00:00 2004 big.jpg\n");
  EXPECT_EQ(big.err, narrow ? "chronel: unable to open big.jpg: File too large.\n" : "");
  EXPECT_EQ(big.status, 0);

  ASSERT_EQ(stat((dir / "big.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, bigSize);
  EXPECT_EQ(readFile(dir / "small.jpg"), std::string(head.begin(), head.end()));
  if (!narrow) {
    EXPECT_EQ(st.st_mtim.tv_sec, 1073296800);
  }
}

}  // namespace
