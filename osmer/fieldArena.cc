#include "fieldArena.h"

#include <cstdint>
#include <new>

fieldArena::~fieldArena() {
  while (fa_chunks) {
    chunk* next = fa_chunks->next;
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
  chunk* c = static_cast<chunk*>(::operator new(bytes));
  c->next = fa_chunks;
  fa_chunks = c;
  if (fa_grow < SIZE_MAX / 4) fa_grow = bytes * 2;
  unsigned char* p = reinterpret_cast<unsigned char*>(c) + header;
  fa_free = p + size;
  fa_left = bytes - header - size;
  return p;
}
