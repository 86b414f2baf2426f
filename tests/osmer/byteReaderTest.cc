#include "byteReader.h"

#include <gtest/gtest.h>

#include <cstdint>

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

TEST(ByteReader, FindsABytePastAStart) {
  byteReader r(sample, sizeof sample);
  EXPECT_EQ(r.find(0x56, 0), 2u);
  EXPECT_EQ(r.find(0x56, 3), byteReader::npos);
  EXPECT_EQ(r.find(0x12, 99), byteReader::npos);
}

}  // namespace
