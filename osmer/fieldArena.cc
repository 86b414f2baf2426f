#include "fieldArena.h"

#include <cstdint>
#include <new>
#include <utility>

namespace {

// The first chunk of the last set, kept for the next one.  A chunk of that
// size is a large request to malloc, which sweeps all its small free blocks
// into larger ones for each: a fifth of the cost of a set's fields.
struct spareChunk {
  void* kept = nullptr;
  bool closed = false;  // the library is being unloaded: keep nothing
  ~spareChunk() {
    ::operator delete(kept);
    kept = nullptr;
    closed = true;
  }
} spare;

}  // namespace

fieldArena::~fieldArena() {
  while (fa_chunks) {
    chunk* next = fa_chunks->next;
    if (fa_chunks->size == firstChunk && !spare.kept && !spare.closed)
      spare.kept = fa_chunks;
    else
      ::operator delete(fa_chunks);
    fa_chunks = next;
  }
}

void* fieldArena::allocateChunk(size_t size) {
  // The chunk's header, then the object at the chunk's own alignment.
  constexpr size_t header = alignof(std::max_align_t) > sizeof(chunk) ? alignof(std::max_align_t)
                                                                       : sizeof(chunk);
  if (size > SIZE_MAX / 2 - header) throw std::bad_alloc();
  size_t bytes = fa_grow;
  while (bytes - header < size) bytes *= 2;
  void* reused = nullptr;
  if (bytes == firstChunk && spare.kept) std::swap(reused, spare.kept);
  chunk* c = static_cast<chunk*>(reused ? reused : ::operator new(bytes));
  c->next = fa_chunks;
  c->size = bytes;
  fa_chunks = c;
  if (fa_grow < SIZE_MAX / 4) fa_grow = bytes * 2;
  unsigned char* p = reinterpret_cast<unsigned char*>(c) + header;
  fa_free = p + size;
  fa_left = bytes - header - size;
  return p;
}
