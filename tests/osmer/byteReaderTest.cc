#include "byteReader.h"

#include "chunkWalker.h"
#include "cursor.h"

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


// A failed read fails every read after it; a child span cannot be read past.
TEST(Cursor, FailsOnceForARunAndKeepsChildrenInside) {
  const unsigned char bytes[] = {0x00, 0x00, 0x00, 0x0C, 'f', 't', 'y', 'p', 1, 2, 3, 4};
  cursor c(byteReader(bytes, sizeof bytes));
  EXPECT_EQ(c.u32be(), 12u);
  EXPECT_EQ(c.fourcc(), fourcc("ftyp"));
  cursor child = c.sub(2);
  EXPECT_EQ(child.u16le(), 0x0201);
  EXPECT_EQ(child.u8(), 0);  // past the child's end, though the parent goes on
  EXPECT_FALSE(child);
  EXPECT_EQ(c.u16be(), 0x0304);
  EXPECT_TRUE(c);
  EXPECT_EQ(c.u32be(), 0u);
  EXPECT_EQ(c.u8(), 0);  // the failure sticks, the position stays
  EXPECT_FALSE(c);
  EXPECT_EQ(c.pos(), 12u);
}

// The ISO BMFF headers: a 64-bit size, a size of 0 (to the parent's end),
// a uuid box's extended type; damage says where.
TEST(ChunkWalker, DecodesEachIsoBmffSizeForm) {
  std::vector<unsigned char> file = {0, 0, 0, 1, 'f', 'r', 'e', 'e', 0, 0, 0, 0, 0, 0, 0, 18, 9, 9};
  const std::vector<unsigned char> uuid = {0, 0, 0, 0, 'u', 'u', 'i', 'd', 0xA1, 2, 3, 4, 5, 6, 7, 8,
                                           9, 10, 11, 12, 13, 14, 15, 16, 0x55};
  file.insert(file.end(), uuid.begin(), uuid.end());
  chunkWalker walk(byteReader(file.data(), file.size()), chunkFamily::isoBmff, "HEIF container");
  chunk c;
  ASSERT_TRUE(walk.next(c));
  EXPECT_EQ(c.type, fourcc("free"));
  EXPECT_EQ(c.data, 16u);
  EXPECT_EQ(c.end, 18u);
  ASSERT_TRUE(walk.next(c));
  EXPECT_EQ(c.type, fourcc("uuid"));
  EXPECT_EQ(c.uuid[0], 0xA1);
  EXPECT_EQ(c.data, 42u);
  EXPECT_EQ(c.size, 1u);
  EXPECT_FALSE(walk.next(c));
  EXPECT_FALSE(walk.damage());

  file[3] = 7;  // a 32-bit size below the header's
  chunkWalker damaged(byteReader(file.data(), file.size()), chunkFamily::isoBmff, "HEIF container");
  EXPECT_FALSE(damaged.next(c));
  ASSERT_TRUE(damaged.damage());
  EXPECT_STREQ(damaged.damage()->msg2(), " has a damaged HEIF container: the free box at offset 0 declares a size of 7");
}

// RIFF: little-endian lengths, data of odd length padded to an even one.
TEST(ChunkWalker, StepsOverRiffPadBytes) {
  const unsigned char file[] = {'A', 'B', 'C', 'D', 3, 0, 0, 0, 1, 2, 3, 0, 'E', 'F', 'G', 'H', 0, 0, 0, 0};
  chunkWalker walk(byteReader(file, sizeof file), chunkFamily::riff, "WebP file", 0, sizeof file);
  std::vector<uint64_t> starts;
  for (const chunk& c : walk) starts.push_back(c.start);
  EXPECT_EQ(starts, (std::vector<uint64_t>{0, 12}));
  EXPECT_FALSE(walk.damage());
}

}  // namespace
