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
  ASSERT_TRUE(big.u16At(0, s));
  EXPECT_EQ(s, 0x1234);
  ASSERT_TRUE(little.u16At(0, s));
  EXPECT_EQ(s, 0x3412);
  ASSERT_TRUE(big.u32At(1, l));
  EXPECT_EQ(l, 0x3456789Au);
  ASSERT_TRUE(little.u32At(1, l));
  EXPECT_EQ(l, 0x9A785634u);
}

TEST(ByteReader, RefusesReadsPastTheEndAndLeavesTheOutputAlone) {
  byteReader r(sample, sizeof sample);
  uint32_t l = 7;
  EXPECT_FALSE(r.u32At(2, l));
  EXPECT_EQ(l, 7u);
  ASSERT_TRUE(r.u32At(1, l));
  uint8_t b = 9;
  EXPECT_FALSE(r.u8At(5, b));
  EXPECT_EQ(b, 9);
  unsigned char out[2] = {1, 2};
  EXPECT_FALSE(r.copyAt(4, out, 2));
  EXPECT_EQ(out[0], 1);
  EXPECT_TRUE(r.startsWith(3, "\x78\x9A", 2));
  EXPECT_FALSE(r.startsWith(4, "\x9A\x00", 2));
}

TEST(ByteReader, LengthsNearTheTopOfTheRangeDoNotWrap) {
  byteReader r(sample, sizeof sample);
  const unsigned char* p = nullptr;
  EXPECT_FALSE(r.has(0xFFFFFFFFull, 2));
  EXPECT_FALSE(r.has(2, 0xFFFFFFFFFFFFFFFFull));
  EXPECT_FALSE(r.viewAt(1, 0xFFFFFFFFull, p));
  byteReader sub;
  EXPECT_FALSE(r.sub(4, 2, sub));
  ASSERT_TRUE(r.sub(1, 3, sub));
  EXPECT_EQ(sub.size(), 3u);
}

}  // namespace
