// bufferPool: the memory that file images hold their bytes and page maps
// in, and the spares kept from one image to the next.
//
// The tools handle one file at a time, so a closed image hands its buffer
// and its page map to the pool, and the next image that fits takes them: a
// fresh buffer per file would cost a new mapping, page faults and an
// unmapping for every large photograph, more than reading its header
// segments, and a fresh map of more than 1 KB (files over 32 MB) is past
// the C library's cache of small blocks.  Capacities are rounded up (to an
// eighth of the size's power of two), so that photographs of similar sizes
// fit in each other's buffers.
//
// The pool also knows how much one image may hold: half the machine's
// memory.  A file larger than that (a sparse file of 100 GB) cannot be
// held, and reading on would only end with the process killed.
#ifndef ORVANE_OSMER_BUFFERPOOL_H
#define ORVANE_OSMER_BUFFERPOOL_H

#include <cstddef>
#include <cstdint>

#include "orvaneExport.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#ifdef ORVANE_ASAN
#include <sanitizer/asan_interface.h>
#endif

// Address space for a file's bytes, page-aligned; memory is committed only
// where bytes are written, so a 100 GB file costs only the pages read of
// it.  The buffer starts on a page boundary: on some processors the
// kernel's copy into a buffer that starts 16 bytes past a 32-byte boundary
// (where a plain large allocation lands) takes several times as long.
class ORVANE_EXPORT imageBuffer {
 public:
  imageBuffer() = default;
  ~imageBuffer() { release(); }
  imageBuffer(imageBuffer&& o) noexcept : ib_bytes(o.ib_bytes), ib_capacity(o.ib_capacity) {
    o.ib_bytes = nullptr;
    o.ib_capacity = 0;
  }
  imageBuffer& operator=(imageBuffer&& o) noexcept;
  imageBuffer(const imageBuffer&) = delete;
  imageBuffer& operator=(const imageBuffer&) = delete;
  // Reserves up to capacity bytes; when that much address space cannot be
  // had (a 32-bit process, a ulimit), as much as can (at least a page).
  // False when none.
  bool reserve(size_t capacity);
  void release();
  unsigned char* bytes() const { return ib_bytes; }
  size_t capacity() const { return ib_capacity; }

 private:
  unsigned char* ib_bytes = nullptr;
  size_t ib_capacity = 0;
};

class ORVANE_EXPORT bufferPool {
 public:
  bufferPool() = default;
  ~bufferPool();
  bufferPool(const bufferPool&) = delete;
  bufferPool& operator=(const bufferPool&) = delete;

  // The pool that file images use unless they are given another.
  static bufferPool& shared();

  // A buffer for a file of size bytes (size > 0): the spare one when it
  // holds that many, else a new one of roundedCapacity(size).  False when
  // no address space is left.
  bool takeBuffer(size_t size, imageBuffer& out);
  // Keeps b as the spare when it is larger than the spare (up to
  // largestSpare), else releases it.
  void giveBuffer(imageBuffer& b);
  // A zeroed page map of at least words words (its size in count), or
  // null; given back with giveWords.
  uint64_t* takeWords(size_t words, size_t& count);
  void giveWords(uint64_t* words, size_t count);

  // The most bytes of a file one image may hold; looked up (a system call)
  // only for an image that grows past alwaysHeld, which every machine holds.
  size_t largestHeld();
  static constexpr size_t alwaysHeld = 256 * 1024 * 1024;
  // Smallest capacity that a buffer for size bytes is given: at most 12.5 %
  // more than the size, and files of about the same size get the same.
  static size_t roundedCapacity(size_t size);

  // Buffers larger than this are released rather than kept.
  static constexpr size_t largestSpare = 256 * 1024 * 1024;
  // Page maps up to this many words (files up to 16 GB) are kept; a larger
  // map is zeroed on demand instead.
  static constexpr size_t largestSpareWords = 64 * 1024;
  // Under the sanitizer, so much of a buffer at most is marked
  // unaddressable (its shadow costs an eighth of it): as much as a spare
  // holds of the last file; a larger buffer is new, and holds nothing of
  // another.
  static constexpr size_t largestHidden = largestSpare;

 private:
  imageBuffer bp_spare;
  uint64_t* bp_words = nullptr;  // the spare page map
  size_t bp_wordCount = 0;
  size_t bp_largestHeld = 0;  // 0 until looked up
  bool bp_closed = false;     // destroyed: an image closed later keeps nothing here
};

// Under AddressSanitizer the bytes of a buffer that hold nothing of the
// file yet (never read, or left from an earlier file) are marked
// unaddressable, so that reading one is reported like a read past the
// buffer.  Elsewhere these do nothing.
inline void markBytes(unsigned char* p, size_t n, bool hidden) {
#ifdef ORVANE_ASAN
  if (p && n) {
    if (hidden) ASAN_POISON_MEMORY_REGION(p, n);
    else ASAN_UNPOISON_MEMORY_REGION(p, n);
  }
#else
  (void)p;
  (void)n;
  (void)hidden;
#endif
}
inline void hideBytes(unsigned char* p, size_t n) { markBytes(p, n, true); }
inline void showBytes(unsigned char* p, size_t n) { markBytes(p, n, false); }

#endif
