#include "byteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

const unsigned char sample[] = {0x12, 0x34, 0x56, 0x78, 0x9A};

TEST(ByteReader, ReadsBothByteOrders) {
  byteReader big(sample, sizeof sample, true), little(sample, sizeof sample, false);
  uint16_t s;
  uint32_t l;
  ASSERT_TRUE(big.u16(s));
  EXPECT_EQ(s, 0x1234);
  ASSERT_TRUE(little.u16(s));
  EXPECT_EQ(s, 0x3412);
  ASSERT_TRUE(big.u32At(1, l));
  EXPECT_EQ(l, 0x3456789Au);
  ASSERT_TRUE(little.u32At(1, l));
  EXPECT_EQ(l, 0x9A785634u);
}

TEST(ByteReader, RefusesReadsPastTheEndAndKeepsItsPlace) {
  byteReader r(sample, sizeof sample);
  uint32_t l = 7;
  ASSERT_TRUE(r.skip(2));
  EXPECT_FALSE(r.u32(l));
  EXPECT_EQ(l, 7u);
  EXPECT_EQ(r.tell(), 2u);
  EXPECT_FALSE(r.u32At(2, l));
  EXPECT_FALSE(r.skip(4));
  EXPECT_TRUE(r.skip(3));
  EXPECT_EQ(r.remaining(), 0u);
  uint8_t b;
  EXPECT_FALSE(r.u8(b));
}

TEST(ByteReader, LengthsNearTheTopOfTheRangeDoNotWrap) {
  byteReader r(sample, sizeof sample);
  const unsigned char* p = nullptr;
  EXPECT_FALSE(r.has(0xFFFFFFFFull, 2));
  EXPECT_FALSE(r.has(2, 0xFFFFFFFFFFFFFFFFull));
  EXPECT_FALSE(r.viewAt(1, 0xFFFFFFFFull, p));
  EXPECT_FALSE(r.seek(6));
  EXPECT_TRUE(r.seek(5));
  byteReader sub;
  EXPECT_FALSE(r.sub(4, 2, sub));
  ASSERT_TRUE(r.sub(1, 3, sub));
  EXPECT_EQ(sub.size(), 3u);
}

// The scan for markers in entropy-coded data works on blocks of bytes; it
// must agree with the plain rule at every position, block edges included:
// a 0xFF followed by anything but 0x00, or a 0xFF in the last byte.
TEST(ByteReader, FindsMarkerStartsPastStuffedBytes) {
  const unsigned char data[] = {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF, 0xD9, 0xFF};
  byteReader r(data, sizeof data);
  EXPECT_EQ(r.findMarkerStart(0), 4u);  // 0xFF 0xFF: the first may be fill
  EXPECT_EQ(r.findMarkerStart(5), 5u);
  EXPECT_EQ(r.findMarkerStart(6), 7u);  // last byte: its follower is unknown
  EXPECT_EQ(r.findMarkerStart(8), byteReader::npos);
  EXPECT_EQ(byteReader(data, 4).findMarkerStart(0), byteReader::npos);

  auto plainRule = [](const std::vector<unsigned char>& d, size_t from) {
    for (size_t i = from; i < d.size(); ++i)
      if (d[i] == 0xFF && (i + 1 == d.size() || d[i + 1] != 0x00)) return i;
    return byteReader::npos;
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
    byteReader dr(d.data(), d.size());
    for (size_t from = 0; from <= d.size(); ++from)
      ASSERT_EQ(dr.findMarkerStart(from), plainRule(d, from)) << "trial " << trial;
  }
}

TEST(ByteReader, FindsABytePastAStart) {
  byteReader r(sample, sizeof sample);
  EXPECT_EQ(r.find(0x56, 0), 2u);
  EXPECT_EQ(r.find(0x56, 3), byteReader::npos);
  EXPECT_EQ(r.find(0x12, 99), byteReader::npos);
}

}  // namespace
