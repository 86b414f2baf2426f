// byteReader: the one way the container library reads bytes of a file image.
//
// A cursor over a span of bytes with explicit bounds.  Every read says
// whether it succeeded; a failed read leaves the cursor where it was and the
// output untouched.  Positions and lengths are taken as 64-bit values so that
// offset + length read from a file can never wrap around.
#ifndef ORVANE_OSMER_BYTEREADER_H
#define ORVANE_OSMER_BYTEREADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// On x86-64 the scan for markers uses SSE2 (always there) and AVX2 (where
// the processor has it); elsewhere memchr.
#if defined(__x86_64__) && defined(__GNUC__)
#define ORVANE_X86_64_SCAN 1
#include <immintrin.h>
#else
#define ORVANE_X86_64_SCAN 0
#endif

class byteReader {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  byteReader() = default;
  byteReader(const unsigned char* data, size_t size, bool bigEndian = true)
      : br_data(data), br_size(size), br_big(bigEndian) {}

  size_t size() const { return br_size; }
  size_t tell() const { return br_pos; }
  size_t remaining() const { return br_size - br_pos; }
  bool bigEndian() const { return br_big; }
  void setBigEndian(bool big) { br_big = big; }

  // True when the n bytes at pos lie inside the span.
  bool has(uint64_t pos, uint64_t n) const {
    return pos <= br_size && n <= br_size - pos;
  }

  bool seek(uint64_t pos) {
    if (pos > br_size) return false;
    br_pos = static_cast<size_t>(pos);
    return true;
  }
  bool skip(uint64_t n) {
    if (!has(br_pos, n)) return false;
    br_pos += static_cast<size_t>(n);
    return true;
  }

  bool u8(uint8_t& v) { return take(1, [&](const unsigned char* p) { v = p[0]; }); }
  bool u16(uint16_t& v) { return take(2, [&](const unsigned char* p) { v = load16(p); }); }
  bool u32(uint32_t& v) { return take(4, [&](const unsigned char* p) { v = load32(p); }); }

  bool u8At(uint64_t pos, uint8_t& v) const {
    if (!has(pos, 1)) return false;
    v = br_data[pos];
    return true;
  }
  bool u16At(uint64_t pos, uint16_t& v) const {
    if (!has(pos, 2)) return false;
    v = load16(br_data + pos);
    return true;
  }
  bool u32At(uint64_t pos, uint32_t& v) const {
    if (!has(pos, 4)) return false;
    v = load32(br_data + pos);
    return true;
  }

  // A pointer to the n bytes at the cursor, which then moves past them.
  bool view(uint64_t n, const unsigned char*& p) {
    return take(n, [&](const unsigned char* q) { p = q; });
  }
  // A pointer to the n bytes at pos, without moving the cursor.
  bool viewAt(uint64_t pos, uint64_t n, const unsigned char*& p) const {
    if (!has(pos, n)) return false;
    p = br_data + pos;
    return true;
  }
  bool copyAt(uint64_t pos, void* dst, uint64_t n) const {
    if (!has(pos, n)) return false;
    if (n) std::memcpy(dst, br_data + pos, static_cast<size_t>(n));
    return true;
  }
  bool startsWith(uint64_t pos, const void* text, size_t n) const {
    return has(pos, n) && std::memcmp(br_data + pos, text, n) == 0;
  }

  // Position of the first byte equal to b at or after from, or npos.
  size_t find(uint8_t b, uint64_t from) const {
    if (from >= br_size) return npos;
    const void* hit = std::memchr(br_data + from, b, br_size - static_cast<size_t>(from));
    return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - br_data) : npos;
  }

  // Position of the first 0xFF at or after from that may begin a marker in
  // entropy-coded data, or npos: a 0xFF followed by any byte but 0x00 (a
  // stuffed data byte), or the last byte of the span, whose follower is not
  // known yet.  Such data holds a stuffed pair every hundred bytes or so;
  // passing over them here, blocks at a time, keeps a walk through a whole
  // photograph close to the cost of reading it.
  size_t findMarkerStart(uint64_t from) const {
    if (from >= br_size) return npos;
    size_t i = skipPlainBlocks(static_cast<size_t>(from));
    for (; i < br_size; ++i)
      if (br_data[i] == 0xFF && (i + 1 == br_size || br_data[i + 1] != 0x00)) return i;
    return npos;
  }

  // The n bytes at pos as a reader of their own (same byte order).
  bool sub(uint64_t pos, uint64_t n, byteReader& out) const {
    if (!has(pos, n)) return false;
    out = byteReader(br_data + pos, static_cast<size_t>(n), br_big);
    return true;
  }

 private:
  // A position at or after i from which to look on: no marker start (see
  // findMarkerStart) lies between i and it.  On x86-64 whole blocks are
  // passed over, each looked at only while the byte after it lies inside
  // the span, so that every 0xFF in it is judged by the byte that follows.
  size_t skipPlainBlocks(size_t i) const {
#if ORVANE_X86_64_SCAN
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return skipPlainBlocksAvx2(i);
    const __m128i ff = _mm_set1_epi8(-1), zero = _mm_setzero_si128();
    while (br_size - i > 32) {
      const unsigned char* p = br_data + i;
      const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
      const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17));
      const __m128i hits =
          _mm_or_si128(_mm_andnot_si128(_mm_cmpeq_epi8(b0, zero), _mm_cmpeq_epi8(a0, ff)),
                       _mm_andnot_si128(_mm_cmpeq_epi8(b1, zero), _mm_cmpeq_epi8(a1, ff)));
      if (_mm_movemask_epi8(hits)) break;
      i += 32;
    }
#else
    // Elsewhere the C library's search for 0xFF, pair by pair.
    while (i < br_size) {
      const void* hit = std::memchr(br_data + i, 0xFF, br_size - i);
      if (!hit) return br_size;
      const size_t k = static_cast<size_t>(static_cast<const unsigned char*>(hit) - br_data);
      if (k + 1 == br_size || br_data[k + 1] != 0x00) return k;
      i = k + 2;
    }
#endif
    return i;
  }

#if ORVANE_X86_64_SCAN
  // The same in blocks of 64 bytes, on processors that have AVX2.
  __attribute__((target("avx2"))) size_t skipPlainBlocksAvx2(size_t i) const {
    const __m256i ff = _mm256_set1_epi8(-1), zero = _mm256_setzero_si256();
    while (br_size - i > 64) {
      const unsigned char* p = br_data + i;
      const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
      const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
      const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 33));
      const __m256i hits = _mm256_or_si256(
          _mm256_andnot_si256(_mm256_cmpeq_epi8(b0, zero), _mm256_cmpeq_epi8(a0, ff)),
          _mm256_andnot_si256(_mm256_cmpeq_epi8(b1, zero), _mm256_cmpeq_epi8(a1, ff)));
      if (!_mm256_testz_si256(hits, hits)) break;
      i += 64;
    }
    return i;
  }
#endif

  template <class F>
  bool take(uint64_t n, F&& use) {
    if (!has(br_pos, n)) return false;
    use(br_data + br_pos);
    br_pos += static_cast<size_t>(n);
    return true;
  }
  uint16_t load16(const unsigned char* p) const {
    return br_big ? static_cast<uint16_t>(p[0] << 8 | p[1])
                  : static_cast<uint16_t>(p[1] << 8 | p[0]);
  }
  uint32_t load32(const unsigned char* p) const {
    return br_big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                  : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
  }

  const unsigned char* br_data = nullptr;
  size_t br_size = 0;
  size_t br_pos = 0;
  bool br_big = true;
};

#endif
