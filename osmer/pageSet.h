// pageSet: which pages (4 KiB, aligned) of a file are loaded.
//
// One bit a page.  The words come from a bufferPool and go back to it, so
// that photographs one after the other reuse one map; a large map is fresh
// zeroed memory from the C library, which takes memory only where a bit is
// set, so that a sparse file of terabytes costs what is read of it, not 32
// MB per terabyte.
#ifndef ORVANE_OSMER_PAGESET_H
#define ORVANE_OSMER_PAGESET_H

#include <cstddef>
#include <cstdint>

#include "orvaneExport.h"

class bufferPool;

class ORVANE_EXPORT pageSet {
 public:
  explicit pageSet(bufferPool& pool) : ps_pool(pool) {}
  ~pageSet() { clear(); }
  pageSet(const pageSet&) = delete;
  pageSet& operator=(const pageSet&) = delete;

  // Makes room for pages pages, none of them present; false when the map
  // cannot be had.
  bool reset(size_t pages);
  // Gives the map back to the pool.
  void clear();

  bool present(size_t page) const { return ps_words[page >> 6] >> (page & 63) & 1u; }
  // Marks the pages first..last as present.
  void add(size_t first, size_t last) {
    for (size_t page = first; page <= last;) {
      if ((page & 63) == 0 && last - page >= 63) {
        ps_words[page >> 6] = ~uint64_t(0);
        page += 64;
      } else {
        ps_words[page >> 6] |= uint64_t(1) << (page & 63);
        ++page;
      }
    }
  }
  // Marks one page as missing again (its memory was given back).
  void remove(size_t page) { ps_words[page >> 6] &= ~(uint64_t(1) << (page & 63)); }
  // How many pages from first on are missing, counting up to limit pages.
  size_t missingRun(size_t first, size_t limit) const {
    for (size_t n = 0; n < limit;) {
      const size_t page = first + n;
      const uint64_t ahead = ps_words[page >> 6] >> (page & 63);  // this page on, in its word
      if (ahead) {
        n += static_cast<size_t>(__builtin_ctzll(ahead));
        return n < limit ? n : limit;
      }
      n += 64 - (page & 63);
    }
    return limit;
  }
  // How many of the first size bytes of the file lie in present pages.
  size_t bytesPresent(size_t size) const;
  // The words, for the inline look-up of byteSource.
  const uint64_t* words() const { return ps_words; }

 private:
  bufferPool& ps_pool;
  uint64_t* ps_words = nullptr;
  size_t ps_count = 0;  // words in ps_words
};

#endif
