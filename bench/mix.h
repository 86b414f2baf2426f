// The benchmark's one hash: a 64-bit finalizer that turns a counter into
// well-spread bits, so the generated pictures, sizes and values are varied
// yet the same on every run.
#ifndef ORVANE_BENCH_MIX_H
#define ORVANE_BENCH_MIX_H

#include <cstdint>

inline uint64_t mix(uint64_t h) {
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  h *= 0x94D049BB133111EBull;
  h ^= h >> 32;
  return h;
}

#endif
