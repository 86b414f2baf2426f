#include "bufferPool.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "byteReader.h"

namespace {

constexpr size_t pageSize = byteSource::pageSize;

bufferPool processPool;

}  // namespace

imageBuffer& imageBuffer::operator=(imageBuffer&& o) noexcept {
  if (this != &o) {
    release();
    std::swap(ib_bytes, o.ib_bytes);
    std::swap(ib_capacity, o.ib_capacity);
  }
  return *this;
}

bool imageBuffer::reserve(size_t capacity) {
  release();
  for (size_t want = capacity; want >= pageSize; want = want / 2 / pageSize * pageSize) {
    void* p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      ib_bytes = static_cast<unsigned char*>(p);
      ib_capacity = want;
      return true;
    }
  }
  return false;
}

void imageBuffer::release() {
  if (!ib_bytes) return;
  showBytes(ib_bytes, ib_capacity < bufferPool::largestHidden ? ib_capacity : bufferPool::largestHidden);
  ::munmap(ib_bytes, ib_capacity);
  ib_bytes = nullptr;
  ib_capacity = 0;
}

bufferPool& bufferPool::shared() { return processPool; }

bufferPool::~bufferPool() {
  bp_spare.release();
  std::free(bp_words);
  bp_words = nullptr;
  bp_wordCount = 0;
  bp_closed = true;
}

bool bufferPool::takeBuffer(size_t size, imageBuffer& out) {
  if (bp_spare.capacity() >= size) {
    out = std::move(bp_spare);
    return true;
  }
  bp_spare.release();  // too small for this file: released first
  return out.reserve(roundedCapacity(size));
}

void bufferPool::giveBuffer(imageBuffer& b) {
  if (!bp_closed && b.capacity() <= largestSpare && b.capacity() > bp_spare.capacity())
    bp_spare = std::move(b);
  else
    b.release();
}

uint64_t* bufferPool::takeWords(size_t words, size_t& count) {
  if (bp_words && bp_wordCount >= words) {
    uint64_t* w = bp_words;
    count = bp_wordCount;
    bp_words = nullptr;
    bp_wordCount = 0;
    std::memset(w, 0, words * sizeof(uint64_t));
    return w;
  }
  uint64_t* w = static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t)));
  count = w ? words : 0;
  return w;
}

void bufferPool::giveWords(uint64_t* words, size_t count) {
  if (!bp_closed && count <= largestSpareWords && count > bp_wordCount) {
    std::free(bp_words);
    bp_words = words;
    bp_wordCount = count;
  } else {
    std::free(words);
  }
}

size_t bufferPool::largestHeld() {
  if (bp_largestHeld == 0) {
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    const uint64_t half = pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) / 2 : UINT64_MAX;
    bp_largestHeld = half > std::numeric_limits<size_t>::max() ? std::numeric_limits<size_t>::max()
                                                               : static_cast<size_t>(half);
    if (bp_largestHeld < alwaysHeld) bp_largestHeld = alwaysHeld;
  }
  return bp_largestHeld;
}

size_t bufferPool::roundedCapacity(size_t size) {
  size_t top = pageSize;
  while (top <= size / 2) top *= 2;
  size_t step = top / 8 < pageSize ? pageSize : top / 8;
  if (size > std::numeric_limits<size_t>::max() - step) return size;
  return (size + step - 1) / step * step;
}
