#include "pageSet.h"

#include "bufferPool.h"
#include "byteReader.h"

bool pageSet::reset(size_t pages) {
  clear();
  ps_words = ps_pool.takeWords(pages / 64 + 1, ps_count);
  return ps_words != nullptr;
}

void pageSet::clear() {
  if (ps_words) ps_pool.giveWords(ps_words, ps_count);
  ps_words = nullptr;
  ps_count = 0;
}

size_t pageSet::bytesPresent(size_t size) const {
  constexpr size_t pageSize = byteSource::pageSize;
  size_t bytes = 0;
  for (size_t page = 0; page * pageSize < size; ++page)
    if (present(page)) bytes += size - page * pageSize < pageSize ? size - page * pageSize : pageSize;
  return bytes;
}
