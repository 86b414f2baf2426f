// fieldArena: the storage of the field objects (and directories) of one
// EXIF set.
//
// A set of a few dozen fields would otherwise cost a heap allocation and a
// release for each; here they are carved out of large chunks, usually one,
// and released together.  The arena only hands out bytes: whoever builds an
// object in it destroys that object before the arena goes.
#ifndef ORVANE_OSMER_FIELDARENA_H
#define ORVANE_OSMER_FIELDARENA_H

#include <cstddef>
#include <cstdint>

#include "orvaneExport.h"

class ORVANE_EXPORT fieldArena {
 public:
  fieldArena() = default;
  ~fieldArena();
  fieldArena(const fieldArena&) = delete;
  fieldArena& operator=(const fieldArena&) = delete;

  // Room for size bytes aligned to align (a power of two at most
  // alignof(std::max_align_t)); throws std::bad_alloc when there is none.
  void* allocate(size_t size, size_t align) {
    const size_t pad = -reinterpret_cast<uintptr_t>(fa_free) & (align - 1);
    if (!fa_free || pad > fa_left || size > fa_left - pad) return allocateChunk(size);
    unsigned char* p = fa_free + pad;
    fa_free = p + size;
    fa_left -= pad + size;
    return p;
  }

  // The first chunk holds the fields of a camera's EXIF block; later ones
  // double in size.  The library keeps one first chunk for the next set.
  static constexpr size_t firstChunk = 4096;

 private:
  // Starts a new chunk with room for size bytes, and hands them out.
  void* allocateChunk(size_t size);

  struct chunk {
    chunk* next;
    size_t size;  // bytes, this header included
  };

  chunk* fa_chunks = nullptr;
  unsigned char* fa_free = nullptr;  // next free byte of the newest chunk
  size_t fa_left = 0;                // bytes left after fa_free
  size_t fa_grow = firstChunk;       // size of the next chunk
};

#endif
