// The container library against inputs built to exhaust it, and the inputs
// that the fuzz targets found faults with, kept as regression tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "asciiField.h"
#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "fileImage.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "mstream.h"
#include "numericFields.h"
#include "runTool.h"
#include "sanitizers.h"

using namespace testjpeg;

namespace {

class HostileExif : public ::testing::Test {
 protected:
  // Parses the block as the EXIF data of a photograph.
  std::unique_ptr<exif> parse(const bytes& tiff) {
    jpegWriter().photo(tiff).save(dir / "x.jpg");
    file = std::make_unique<jfif>((dir / "x.jpg").c_str());
    header = std::make_unique<exifHeader>(*file);
    auto set = std::make_unique<exif>(*header);
    set->populate();
    return set;
  }

  // Bytes of ASCII values that the set copied out of the block.
  static uint64_t asciiBytes(const exif& set, size_t* fields = nullptr) {
    uint64_t sum = 0;
    for (const auto& d : set.directories())
      for (const auto& f : d->fields())
        if (auto a = dynamic_cast<const asciiField*>(f)) {
          sum += a->count();
          if (fields) ++*fields;
        }
    return sum;
  }

  tempDir dir;
  std::unique_ptr<jfif> file;
  std::unique_ptr<exifHeader> header;
};

void put(bytes& b, size_t at, int n, bool big, uint32_t v) {
  for (int i = 0; i < n; ++i)
    b[at + i] = static_cast<unsigned char>(big ? v >> (8 * (n - 1 - i)) : v >> (8 * i));
}

// One directory filling a 64 KB segment, every entry an ASCII value of
// 65000 bytes at the same place.  Copying each would cost over 300 MB.
bytes packedBlock(bool big) {
  const size_t room = 65535 - 2 - 6;
  const size_t entries = (room - 8 - 2 - 4) / 12;
  bytes b(room, 0);
  b[0] = b[1] = big ? 'M' : 'I';
  put(b, 2, 2, big, 42);
  put(b, 4, 4, big, 8);
  put(b, 8, 2, big, static_cast<uint32_t>(entries));
  for (size_t i = 0; i < entries; ++i) {
    const size_t at = 10 + 12 * i;
    put(b, at, 2, big, i == 0 ? 0x9003 : static_cast<uint32_t>(0x100 + i));
    put(b, at + 2, 2, big, 2);
    put(b, at + 4, 4, big, 65000);
    put(b, at + 8, 4, big, 8);
  }
  return b;
}

TEST_F(HostileExif, EntriesSharingOneLargeValueCostAFewBlocksAtMost) {
  for (bool big : {false, true}) {
    const bytes block = packedBlock(big);
    auto set = parse(block);
    size_t fields = 0;
    const uint64_t copied = asciiBytes(*set, &fields);
    EXPECT_LE(copied, exif::valueBudgetBlocks * block.size());
    EXPECT_GE(fields, 1u);
    const ifd* where = nullptr;
    EXPECT_NE(set->find(0x9003, where), nullptr) << "the first entries are still read";
  }
}

TEST_F(HostileExif, SoundBlockWithManyValuesKeepsThemAll) {
  tiffWriter t(false);
  for (uint16_t i = 0; i < 100; ++i) t.ascii(dir::ifd0, static_cast<uint16_t>(0x1000 + i), std::string(499, 'a' + i % 26));
  for (uint16_t i = 0; i < 20; ++i) t.undefined(dir::exif, static_cast<uint16_t>(0x2000 + i), bytes(300, 7));
  const bytes block = t.build();
  auto set = parse(block);
  size_t fields = 0;
  EXPECT_EQ(asciiBytes(*set, &fields), 100u * 500);
  EXPECT_EQ(fields, 100u);
  ASSERT_EQ(set->directories().size(), 2u);
  EXPECT_EQ(set->directories()[1]->fields().size(), 20u);
}

// A count whose size in bytes does not fit in 32 bits must not wrap into a
// small size: 0x40000000 LONG values are 2^32 bytes, which a 32-bit build
// would otherwise take for 0 and then report 2^30 values of a field.
TEST(NumericFields, ACountWhoseSizeWrapsIn32BitsReadsNothing) {
  bytes block(64, 1);
  mstream m(byteReader(block.data(), block.size(), false));
  integerField longs(entry(0x100, tiff_long, 0x40000000u, 12, 8));
  longs.populate(m);
  EXPECT_EQ(longs.count(), 0u);
  rationalField rationals(entry(0x11A, tiff_rational, 0x20000000u, 12, 8));
  rationals.populate(m);
  EXPECT_EQ(rationals.count(), 0u);
  realField doubles(entry(0x9203, tiff_double, 0x20000001u, 12, 8));
  doubles.populate(m);
  EXPECT_EQ(doubles.count(), 0u);
  // A count that fits is read as usual.
  integerField two(entry(0x100, tiff_long, 2, 12, 8));
  two.populate(m);
  EXPECT_EQ(two.count(), 2u);
  EXPECT_EQ(two.value(1), 0x01010101);
}

#ifndef ORVANE_TEST_ASAN
// Millions of markers of no length: restart markers in the image data, TEM
// markers, empty comments.  A tool's memory must not grow with their number:
// under an address-space limit far below 24 bytes per marker, each bomb is
// walked and its damage reported, and the next file is still handled.
// (AddressSanitizer reserves terabytes of address space, so the limit
// cannot apply in that build.)
TEST(MarkerBombs, AreWalkedInBoundedMemory) {
  if (underEmulation())
    GTEST_SKIP() << "qemu-user reserves the guest's whole address space up front, so an "
                    "address-space limit cannot bound the program under it";
  tempDir dir;
  auto bomb = [&](const std::string& name, jpegWriter head, const bytes& unit) {
    bytes b = head.data();
    while (b.size() < 24000000 + head.data().size()) b.insert(b.end(), unit.begin(), unit.end());
    jpegWriter().raw(b).save(dir / name);
  };
  bomb("rst.jpg", jpegWriter().soi().frameHeaders().sos(), {0xFF, 0xD0});
  bomb("tem.jpg", jpegWriter().soi(), {0xFF, 0x01});
  bomb("com.jpg", jpegWriter().soi(), {0xFF, 0xFE, 0x00, 0x02});
  jpegWriter good;
  good.soi().com("still here").frameHeaders().sos().eoi();
  good.save(dir / "good.jpg");

  const std::string limit = "ulimit -v 200000 || exit 99; ";
  toolResult r = runToolMerged(GLOSSEL, {"rst.jpg", "tem.jpg", "good.jpg"}, {{}, dir.path()}, limit);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "rst.jpg:\n"
            "chronel: rst.jpg is truncated: the image data of the SOS at offset 106 ends without "
            "an EOI marker.\n"
            "tem.jpg:\n"
            "chronel: tem.jpg is truncated: the file ends at offset 24000002 without an EOI "
            "marker.\n"
            "good.jpg:\nstill here\n");
  r = runToolMerged(SONLIFT, {"com.jpg", "good.jpg"}, {{}, dir.path()}, limit);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "JFIF file com.jpg:\n"
            "chronel: com.jpg is truncated: the file ends at offset 24000002 without an EOI "
            "marker.\n"
            "JFIF file good.jpg:\n");
}
#endif

#ifdef ORVANE_TEST_ASAN
// In the sanitizer build, the part of an image's buffer that holds no bytes
// of the file yet is unaddressable, also when the buffer is one reused from
// a larger file: a reader that strays past the loaded bytes is caught even
// though the memory belongs to the buffer.  (The test reads the buffer
// directly on purpose, to stray.)
TEST(ImageBufferDeathTest, BytesNotLoadedAreUnaddressable) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  tempDir dir;
  writeFile(dir / "big.jpg", std::string(3 << 20, 'x'));
  writeFile(dir / "small.jpg", std::string(300 << 10, 'y'));
  {
    fileImage big;
    ASSERT_EQ(big.open((dir / "big.jpg").c_str()), 0);
    big.loadAll();
  }
  fileImage small;  // takes over the big file's buffer
  ASSERT_EQ(small.open((dir / "small.jpg").c_str()), 0);
  small.load(0, 1);
  ASSERT_GT(small.loaded(), 0u);
  ASSERT_LT(small.loaded(), small.size());
  // The buffer's start, through a reader that loads only the first byte.
  const unsigned char* start = nullptr;
  ASSERT_TRUE(small.reader(0, small.size()).viewAt(0, 1, start));
  const volatile unsigned char* p = start;
  EXPECT_EQ(p[small.loaded() - 1], 'y');
  EXPECT_DEATH(p[small.loaded()], "use-after-poison");
  // Pages are loaded where they are read, not as a prefix: the bytes
  // between stay hidden.
  small.load(200 << 10, 1);
  EXPECT_EQ(p[200 << 10], 'y');
  EXPECT_DEATH(p[(200 << 10) - 1], "use-after-poison");
  small.loadAll();
  EXPECT_EQ(p[small.size() - 1], 'y');
  EXPECT_DEATH(p[small.size()], "use-after-poison");
}
#endif

}  // namespace
