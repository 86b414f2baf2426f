// The marker side of the container library: opening, header checks and the
// marker list, over files made by the test writer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "exifHeader.h"
#include "fileImage.h"
#include "jfif.h"
#include "jpegHeader.h"
#include "jpegWriter.h"
#include "markerScanner.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

struct listed {
  std::string name;
  uint32_t len;
  long long offset;
};

// The marker list of a file, and the text of the damage that ends it.
std::vector<listed> listMarkers(const std::string& path, std::string* damage = nullptr) {
  jfif j(path.c_str());
  j.buildMarkerList(0);
  std::vector<listed> out;
  try {
    jfif_marker m;
    while ((m = j.nextMarker(jfif_marker::jm_nada)) != jfif_marker::null)
      out.push_back({m.name(), m.len(), static_cast<long long>(m.offset())});
  } catch (const misc_error& e) {
    if (damage) *damage = std::string(e.msg1()) + "|" + e.msg2();
  }
  return out;
}

std::string names(const std::vector<listed>& v) {
  std::string s;
  for (const auto& m : v) s += (s.empty() ? "" : " ") + m.name;
  return s;
}

class Markers : public ::testing::Test {
 protected:
  std::string save(const jpegWriter& w, const std::string& name = "x.jpg") {
    std::string p = dir / name;
    w.save(p);
    return p;
  }
  tempDir dir;
};

TEST_F(Markers, ListsEverySegmentOfAPhotoInFileOrder) {
  jpegWriter w;
  w.photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build());
  std::string damage;
  auto list = listMarkers(save(w), &damage);
  EXPECT_EQ(names(list), "SOI APP0 APP1 DQT SOF0 DHT SOS EOI");
  EXPECT_EQ(damage, "");
  EXPECT_EQ(list[0].offset, 0);
  EXPECT_EQ(list[0].len, 2u);
  EXPECT_EQ(list[1].offset, 2);
  EXPECT_EQ(list[1].len, 18u);  // 2 + a length field of 16
  EXPECT_EQ(list.back().offset, static_cast<long long>(w.size()) - 2);
}

TEST_F(Markers, ScanDataPassesStuffedBytesAndFillAndListsRestarts) {
  jpegWriter w;
  w.soi().frameHeaders().sos();
  w.raw({0x01, 0xFF, 0x00, 0x02}).marker(0xD0).raw({0xFF, 0x00}).marker(0xD7);
  w.raw({0x03, 0xFF, 0xFF, 0xFF});  // fill bytes before the next marker
  const long long comAt = static_cast<long long>(w.size());
  w.com("mid").sos().raw({0x04}).eoi();
  w.text("trailing bytes after EOI are not listed");
  auto list = listMarkers(save(w));
  EXPECT_EQ(names(list), "SOI DQT SOF0 DHT SOS RST0 RST7 COM SOS EOI");
  // The COM's 0xFF is the last of the fill bytes.
  EXPECT_EQ(list[7].offset, comAt);
}

TEST_F(Markers, DamageEndsTheListAfterTheLastGoodMarker) {
  struct damagedCase {
    const char* what;
    jpegWriter file;
    const char* names;
    const char* damage;
  };
  std::vector<damagedCase> cases;
  {
    jpegWriter w;
    w.soi().app0Jfif().segmentWithLength(0xE1, 65535, {1, 2, 3});
    cases.push_back({"segment past the end", w, "SOI APP0",
                     "| is truncated: APP1 at offset 20 runs past the end of the file"});
  }
  {
    jpegWriter w;
    w.soi().segmentWithLength(0xE0, 1, {});
    cases.push_back({"length field 1", w, "SOI", "| is damaged: APP0 at offset 2 has a length field of 1"});
  }
  {
    jpegWriter w;
    w.soi().segmentWithLength(0xE0, 0, {});
    cases.push_back({"length field 0", w, "SOI", "| is damaged: APP0 at offset 2 has a length field of 0"});
  }
  {
    jpegWriter w;
    w.soi().app0Jfif().raw({0x12, 0x34});
    cases.push_back({"no marker", w, "SOI APP0", "| is damaged: no marker at offset 20 (byte 0x12)"});
  }
  {
    jpegWriter w;
    w.soi().app0Jfif();
    cases.push_back({"ends before EOI", w, "SOI APP0",
                     "| is truncated: the file ends at offset 20 without an EOI marker"});
  }
  {
    jpegWriter w;
    w.soi().frameHeaders().sos().raw({1, 2, 0xFF, 0x00, 3});
    cases.push_back({"scan without EOI", w, "SOI DQT SOF0 DHT SOS",
                     "| is truncated: the image data of the SOS at offset 106 ends without an "
                     "EOI marker"});
  }
  {
    jpegWriter w;
    w.soi().raw({0xFF});
    cases.push_back({"lone 0xFF at the end", w, "SOI",
                     "| is truncated: the file ends at offset 3 without an EOI marker"});
  }
  {
    jpegWriter w;
    w.soi().raw({0xFF, 0xE1, 0x00});
    cases.push_back({"length field cut", w, "SOI",
                     "| is truncated: APP1 at offset 2 runs past the end of the file"});
  }
  {
    jpegWriter w;
    w.soi().raw({0xFF, 0x05, 0x00, 0x02});
    cases.push_back({"reserved marker code", w, "SOI",
                     "| is damaged: no marker at offset 2 (bytes 0xFF 0x05)"});
  }
  for (auto& c : cases) {
    std::string damage;
    auto list = listMarkers(save(c.file), &damage);
    EXPECT_EQ(names(list), c.names) << c.what;
    EXPECT_EQ(damage, c.damage) << c.what;
  }
}

TEST_F(Markers, TheWalkThrowsItsDamageAfterTheLastMarkerOfTheAskedType) {
  jpegWriter w;
  w.soi().com("one").app0Jfif().com("two").raw({0x00});
  jfif j(save(w).c_str());
  j.buildMarkerList(0);
  EXPECT_EQ(j.nextMarker(jfif_marker::jm_com).len(), 7u);
  EXPECT_EQ(j.nextMarker(jfif_marker::jm_com).offset(), 27);
  EXPECT_THROW(j.nextMarker(jfif_marker::jm_com), misc_error);
  j.rewind();
  EXPECT_EQ(j.nextMarker(jfif_marker::jm_app0).offset(), 9);
}

TEST_F(Markers, AFileIsReadOnlyAsFarAsTheHeaderChecksNeed) {
  jpegWriter w;
  w.photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build());
  w.raw(bytes(3 * 1024 * 1024, 0x00));  // after EOI
  jfif j(save(w).c_str());
  jpegHeader jh(j);
  exifHeader eh(j);
  EXPECT_TRUE(jh.wellFormed());
  EXPECT_TRUE(eh.wellFormed());
  EXPECT_LE(j.image().loaded(), 64u * 1024);
  EXPECT_EQ(eh.blockOffset(), 30u);  // SOI 2 + APP0 18 + marker, length, "Exif\0\0"
}

// Cameras with large maker notes fill an APP1 up to its limit of 64 KiB.
// Finding it costs the pages of the headers before it, not the segment:
// its bytes are read where the EXIF parser looks; and a walk through the
// whole file must still see every byte.
TEST_F(Markers, ALargeExifSegmentIsReadOnlyWhereItIsLookedAt) {
  tiffWriter t;
  t.undefined(dir::exif, 0x927C, bytes(65450, 0x5A)).dateTimeOriginal("2004:01:05 10:00:00");
  jpegWriter w;
  w.photo(t.build());
  w.raw(bytes(3 * 1024 * 1024, 0x00));  // after EOI
  const std::string path = save(w);
  {
    jfif j(path.c_str());
    jpegHeader jh(j);
    exifHeader eh(j);
    ASSERT_TRUE(eh.wellFormed());
    const size_t app1End = eh.blockOffset() + eh.block().size();
    EXPECT_GT(app1End, 64u * 1024);
    EXPECT_EQ(j.image().bytesRead(), 4096u);  // the first page
    uint8_t last = 0;
    ASSERT_TRUE(eh.block().u8At(eh.block().size() - 1, last));
    EXPECT_EQ(j.image().bytesRead(), 8192u);  // and the page of the last byte
  }
  const std::vector<listed> all = listMarkers(path);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().name, "EOI");
}

// The header checks walk the file on their own: built at any point of the
// list's walk, even past the markers it keeps, they leave it where it was.
TEST_F(Markers, HeaderChecksLeaveTheListWhereItWas) {
  jpegWriter w;
  w.soi();
  for (size_t k = 0; k < jfif::keptMarkers + 100; ++k) w.com("");
  w.frameHeaders().sos().raw({0x12}).eoi();
  jfif j(save(w).c_str());
  j.buildMarkerList(0);
  size_t count = 0;
  while (j.nextMarker(jfif_marker::jm_nada) != jfif_marker::null)
    if (++count % 4000 == 0 || count == jfif::keptMarkers + 50) {
      jpegHeader jh(j);
      exifHeader eh(j);
      EXPECT_TRUE(jh.wellFormed());
    }
  EXPECT_EQ(count, 1 + jfif::keptMarkers + 100 + 4 + 1);  // SOI, COMs, DQT DHT SOF0 SOS, EOI
}

TEST_F(Markers, HeaderChecks) {
  jpegWriter jpeg, exifOnly, exifLater, exifAfterScan, notJpeg;
  jpeg.soi().frameHeaders().sos().eoi();
  exifOnly.app1Exif(tiffWriter().build()).eoi();
  exifLater.soi().app0Jfif().segment(0xE1, toBytes("http://ns.example/xap/")).app1Exif(tiffWriter().build()).eoi();
  exifAfterScan.soi().sos().raw({1}).app1Exif(tiffWriter().build()).eoi();
  notJpeg.text("plain text\n");
  struct {
    jpegWriter* w;
    bool jpeg, exif;
  } expect[] = {{&jpeg, true, false}, {&exifOnly, false, true}, {&exifLater, true, true},
                {&exifAfterScan, true, false}, {&notJpeg, false, false}};
  int n = 0;
  for (auto& e : expect) {
    jfif j(save(*e.w, "h" + std::to_string(n++)).c_str());
    EXPECT_EQ(jpegHeader(j).wellFormed(), e.jpeg) << n;
    EXPECT_EQ(exifHeader(j).wellFormed(), e.exif) << n;
  }
}

TEST_F(Markers, FilesThatCannotBeReadAsPhotosFailTheOpenOrTheChecks) {
  writeFile(dir / "empty", "");
  writeFile(dir / "one", "\xFF");
  writeFile(dir / "ffs", std::string(5000, '\xFF'));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  struct {
    std::string path;
    int err;
  } expect[] = {{dir / "missing", ENOENT}, {dir.path(), EISDIR}, {dir / "fifo", EINVAL},
                {dir / "empty", 0},        {dir / "one", 0},     {dir / "ffs", 0}};
  for (auto& e : expect) {
    jfif j(e.path.c_str());
    EXPECT_EQ(j.err(), e.err) << e.path;
    EXPECT_FALSE(jpegHeader(j).wellFormed()) << e.path;
    EXPECT_FALSE(exifHeader(j).wellFormed()) << e.path;
    std::string damage;
    EXPECT_TRUE(listMarkers(e.path, &damage).empty()) << e.path;
  }
  std::string damage;
  listMarkers(dir / "ffs", &damage);
  EXPECT_EQ(damage, "| is truncated: the file ends at offset 5000 without an EOI marker");
}

// The scan for markers in entropy-coded data works on blocks of bytes; it
// must agree with the plain rule at every position, block edges included:
// a 0xFF followed by anything but 0x00, or a 0xFF in the last byte.
TEST(MarkerScanner, FindsMarkerStartsPastStuffedBytes) {
  const unsigned char data[] = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF, 0xD9, 0xFF};
  auto find = [](const unsigned char* d, size_t n, size_t from) {
    return markerScanner::findMarkerStart(d, n, from);
  };
  EXPECT_EQ(find(data, sizeof data, 0), 4u);  // 0xFF 0xFF: the first may be fill
  EXPECT_EQ(find(data, sizeof data, 5), 5u);
  EXPECT_EQ(find(data, sizeof data, 6), 7u);  // last byte: its follower is unknown
  EXPECT_EQ(find(data, sizeof data, 8), markerScanner::npos);
  EXPECT_EQ(find(data, 4, 0), markerScanner::npos);

  auto plainRule = [](const std::vector<unsigned char>& d, size_t from) {
    for (size_t i = from; i < d.size(); ++i)
      if (d[i] == 0xFF && (i + 1 == d.size() || d[i + 1] != 0x00)) return i;
    return markerScanner::npos;
  };
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
  for (int trial = 0; trial < 300; ++trial) {
    // Mostly stuffed pairs and plain bytes, now and then a lone 0xFF.
    std::vector<unsigned char> d(next() % 200);
    for (size_t i = 0; i < d.size(); ++i) {
      const unsigned k = next() % 16;
      if (k < 5 && i + 1 < d.size()) {
        d[i] = 0xFF;
        d[++i] = 0x00;
      } else {
        d[i] = k == 5 ? 0xFF : k == 6 ? 0x00 : static_cast<unsigned char>(next());
      }
    }
    for (size_t from = 0; from <= d.size(); ++from)
      ASSERT_EQ(find(d.data(), d.size(), from), plainRule(d, from)) << "trial " << trial;
  }
}

// A spare buffer serves the next file when it is large enough.  Rounded
// capacities let photographs a few bytes apart share one, at a bounded
// cost in unused bytes.
TEST(ImageBuffer, SimilarSizesGetTheSameCapacity) {
  for (size_t size : {size_t(1), size_t(4097), size_t(3000000), size_t(40000000)}) {
    const size_t cap = fileImage::roundedCapacity(size);
    EXPECT_GE(cap, size);
    EXPECT_LE(cap, size + size / 8 + 4096) << size;
    EXPECT_EQ(cap % 4096, 0u) << size;
    EXPECT_EQ(fileImage::roundedCapacity(size + 1), cap) << size;
  }
}

// chronel opens the next photograph early so that the disk reads its head
// while the current one is parsed.  The early open must be the file that
// is then opened, must refuse what open() refuses without blocking, and
// must not leave a descriptor behind when another file comes instead.
TEST(ImageBuffer, AForeseenFileIsTheOneOpenedNext) {
  tempDir dir;
  writeFile(dir / "a", "AAAA");
  writeFile(dir / "b", "BBBB");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  auto openFds = [] {
    int n = 0;
    for (int fd = 0; fd < 1024; ++fd) n += fcntl(fd, F_GETFD) != -1;
    return n;
  };
  fileImage().open((dir / "a").c_str());  // the one descriptor kept for the process's life
  const int before = openFds();
  auto first = [](const std::string& path) {
    fileImage i;
    uint8_t b = 0;
    if (i.open(path.c_str()) != 0 || !i.reader().u8At(0, b)) return '?';
    return static_cast<char>(b);
  };
  fileImage::foresee((dir / "a").c_str());
  EXPECT_EQ(first(dir / "a"), 'A');
  fileImage::foresee((dir / "a").c_str());
  EXPECT_EQ(first(dir / "b"), 'B');
  fileImage::foresee((dir / "fifo").c_str());
  fileImage fifo;
  EXPECT_EQ(fifo.open((dir / "fifo").c_str()), EINVAL);
  EXPECT_EQ(openFds(), before);
}

}  // namespace
