// The parts of a file image on their own: the set of loaded pages, the
// pool that lends buffers and page maps, and a read policy replaced by the
// test's own.
#include <gtest/gtest.h>

#include <string>

#include "bufferPool.h"
#include "fileImage.h"
#include "pageSet.h"
#include "readPolicy.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

constexpr size_t page = byteSource::pageSize;

// Runs of pages within one word, across words and whole words; the last
// page of a file counts only the bytes the file has of it.
TEST(PageSet, RunsAcrossWordsAndTheLastPartialPage) {
  bufferPool pool;
  pageSet s(pool);
  ASSERT_TRUE(s.reset(200));
  s.add(3, 3);
  s.add(60, 130);  // the end of one word, two whole words, two more
  EXPECT_FALSE(s.present(2));
  EXPECT_TRUE(s.present(3));
  EXPECT_FALSE(s.present(59));
  EXPECT_TRUE(s.present(60));
  EXPECT_TRUE(s.present(127));
  EXPECT_TRUE(s.present(130));
  EXPECT_FALSE(s.present(131));
  EXPECT_EQ(s.missingRun(0, 10), 3u);
  EXPECT_EQ(s.missingRun(4, 100), 56u);
  EXPECT_EQ(s.missingRun(131, 20), 20u);  // no further than asked
  EXPECT_EQ(s.missingRun(60, 5), 0u);
  EXPECT_EQ(s.bytesPresent(130 * page + 100), 71 * page + 100);  // pages 3, 60..129, 100 bytes of 130
  EXPECT_EQ(s.bytesPresent(3 * page + 1), 1u);
}

// A map goes back to its pool and serves the next file, empty; the pool's
// destruction frees it.
TEST(PageSet, AMapFromThePoolIsEmpty) {
  bufferPool pool;
  const uint64_t* words;
  {
    pageSet a(pool);
    ASSERT_TRUE(a.reset(1000));
    a.add(0, 999);
    words = a.words();
  }
  pageSet b(pool);
  ASSERT_TRUE(b.reset(500));
  EXPECT_EQ(b.words(), words);
  EXPECT_EQ(b.missingRun(0, 500), 500u);
}

// The standard policy doubles the reads of a walk onward; a policy that
// the test puts in its place decides instead, and is asked for a file's
// first read once.
TEST(ReadPolicy, TheImageReadsAsItsPolicySays) {
  struct counting : readPolicy {
    size_t fixed = 0;  // pages every read takes, or 0: the standard answer
    mutable int reads = 0;
    int firstReads = 0;
    size_t pagesToRead(size_t first, size_t asked, bool onward, const lastRead& last) const override {
      ++reads;
      return fixed ? fixed : readPolicy::pagesToRead(first, asked, onward, last);
    }
    ssize_t firstRead(int, const struct stat&, unsigned char*, size_t, size_t) override {
      ++firstReads;
      return -1;
    }
  };
  tempDir dir;
  writeFile(dir / "f", std::string(63 * page, 'x'));
  bufferPool pool;

  counting doubling;
  {
    fileImage image(pool, doubling);
    ASSERT_EQ(image.open((dir / "f").c_str()), 0);
    image.readOnward();
    for (size_t at = 0; at < 63 * page; at += page) image.load(at, 1);
    EXPECT_EQ(image.loaded(), 63 * page);
  }
  EXPECT_EQ(doubling.reads, 6);  // 1, 2, 4, 8, 16 and 32 pages
  EXPECT_EQ(doubling.firstReads, 1);

  counting ten;
  ten.fixed = 10;
  fileImage image(pool, ten);
  ASSERT_EQ(image.open((dir / "f").c_str()), 0);
  image.load(5 * page, 1);
  EXPECT_EQ(image.loaded(), 10 * page);
  image.load(60 * page, 3 * page);  // no further than the file
  EXPECT_EQ(image.loaded(), 13 * page);
  EXPECT_EQ(ten.reads, 2);
}

}  // namespace
