#include "markerScanner.h"

#include <string>

#include "damageText.h"

// On x86-64 the search for markers in entropy-coded data uses SSE2 (always
// there) and AVX2 (where the processor has it); elsewhere memchr.
#if defined(__x86_64__) && defined(__GNUC__)
#define ORVANE_X86_64_SCAN 1
#include <immintrin.h>
#else
#define ORVANE_X86_64_SCAN 0
#endif

namespace {

using type_t = jfif_marker::type_t;

// The byte that introduces a marker (and, repeated, fills before one), and
// the byte that follows a 0xFF that is data, not a marker.
constexpr unsigned char markerByte = 0xFF;
constexpr unsigned char stuffedByte = 0x00;

// Entropy-coded data is loaded and searched a window of up to 1 MiB at a
// time, so that a walk over an image not loaded yet reads it in steps, not
// all at once.
constexpr size_t scanWindowPages = 256;

bool isRst(unsigned code) { return code >= jfif_marker::jm_rst0 && code <= jfif_marker::jm_rst7; }

// Markers that stand alone, without a length field.
bool isStandalone(unsigned code) {
  return code == jfif_marker::jm_tem || isRst(code) || code == jfif_marker::jm_soi ||
         code == jfif_marker::jm_eoi;
}

// Codes that no marker has: 0x00 and the reserved 0x02-0xBF.
bool isReserved(unsigned code) {
  return code == stuffedByte || (code > jfif_marker::jm_tem && code < jfif_marker::jm_sof0);
}

// The texts of the damage that ends a walk.
using damageText::atOffset;
using damageText::damaged;
using damageText::hexByte;
using damageText::truncated;
std::string segment(type_t type, size_t pos) { return jfif_marker::name(type) + atOffset(pos); }
const char* const withoutEoi = " without an EOI marker";

misc_error scanEndsEarly(size_t sos) {
  return truncated("the image data of the SOS" + atOffset(sos) + " ends" + withoutEoi);
}
misc_error fileEndsEarly(size_t pos) { return truncated("the file ends" + atOffset(pos) + withoutEoi); }
misc_error noMarker(size_t pos, const std::string& bytes) {
  return damaged("no marker" + atOffset(pos) + " (" + bytes + ")");
}
misc_error runsPastTheEnd(type_t type, size_t pos) {
  return truncated(segment(type, pos) + " runs past the end of the file");
}
misc_error lengthTooSmall(type_t type, size_t pos, unsigned field) {
  return damaged(segment(type, pos) + " has a length field of " + std::to_string(field));
}

// A position at or after i from which to look on: no marker start (see
// findMarkerStart) lies between i and it.  Such data holds a stuffed pair
// every hundred bytes or so; on x86-64 whole blocks are passed over, each
// looked at only while the byte after it lies inside the span, so that
// every 0xFF in it is judged by the byte that follows.
#if ORVANE_X86_64_SCAN
__attribute__((target("avx2"))) size_t skipPlainBlocksAvx2(const unsigned char* data, size_t size,
                                                            size_t i) {
  const __m256i ff = _mm256_set1_epi8(-1), zero = _mm256_setzero_si256();
  while (size - i > 64) {
    const unsigned char* p = data + i;
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

size_t skipPlainBlocks(const unsigned char* data, size_t size, size_t i) {
#if ORVANE_X86_64_SCAN
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return skipPlainBlocksAvx2(data, size, i);
  const __m128i ff = _mm_set1_epi8(-1), zero = _mm_setzero_si128();
  while (size - i > 32) {
    const unsigned char* p = data + i;
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
  while (i < size) {
    const void* hit = std::memchr(data + i, markerByte, size - i);
    if (!hit) return size;
    const size_t k = static_cast<size_t>(static_cast<const unsigned char*>(hit) - data);
    if (k + 1 == size || data[k + 1] != stuffedByte) return k;
    i = k + 2;
  }
#endif
  return i;
}

}  // namespace

size_t markerScanner::findMarkerStart(const unsigned char* data, size_t size, size_t from) {
  if (from >= size) return npos;
  for (size_t i = skipPlainBlocks(data, size, from); i < size; ++i)
    if (data[i] == markerByte && (i + 1 == size || data[i + 1] != stuffedByte)) return i;
  return npos;
}

bool markerScanner::fail(misc_error damage) {
  sc_at.damage.emplace(std::move(damage));
  sc_at.done = true;
  return false;
}

bool markerScanner::next(jfif_marker& m) {
  if (sc_at.done) return false;
  if (sc_at.inScan && !scanEntropyData(m)) return false;
  if (sc_at.inScan) return true;  // an RSTn inside the scan
  return segmentAt(m);
}

// Finds the marker that ends (or interrupts, for RSTn) the entropy-coded
// data that starts at sc_at.pos.  Leaves sc_at.pos at the marker's 0xFF byte.
bool markerScanner::scanEntropyData(jfif_marker& m) {
  const byteReader file = sc_image.reader();
  size_t pos = sc_at.pos;
  for (;;) {
    if (pos >= file.size()) return fail(scanEndsEarly(sc_at.scanStart));
    // The window: from pos to the end of the window's last page.
    size_t end = (pos / byteSource::pageSize + scanWindowPages) * byteSource::pageSize;
    if (end > file.size()) end = file.size();
    const unsigned char* window = nullptr;
    file.viewAt(pos, end - pos, window);
    const size_t found = findMarkerStart(window, end - pos, 0);
    const size_t hit = found == npos ? end : pos + found;
    // What the walk passed may go, up to the hit: its RSTn markers were
    // handed out before (jfif loads a listed marker again when it is asked
    // for), and no other marker lies there.
    if (sc_letDataGo) {
      sc_image.release(sc_at.passedFrom, hit - sc_at.passedFrom);
      const size_t page = hit / byteSource::pageSize * byteSource::pageSize;
      if (page > sc_at.passedFrom) sc_at.passedFrom = page;
    }
    if (found == npos) {
      pos = end;
      continue;
    }
    uint8_t code = 0;
    if (!file.u8At(hit + 1, code)) return fail(scanEndsEarly(sc_at.scanStart));
    if (code == stuffedByte || code == markerByte) {  // a data byte, or fill before a marker
      pos = code == stuffedByte ? hit + 2 : hit + 1;
      continue;
    }
    if (isRst(code)) {
      const unsigned char* bytes = nullptr;
      file.viewAt(hit, 2, bytes);
      m = jfif_marker(static_cast<type_t>(code), 2, static_cast<off_t>(hit), bytes);
      sc_at.pos = hit + 2;
      return true;
    }
    sc_at.pos = hit;
    sc_at.inScan = false;
    return true;
  }
}

bool markerScanner::segmentAt(jfif_marker& m) {
  const byteReader file = sc_image.reader();
  size_t pos = sc_at.pos;
  uint8_t b;
  if (!file.u8At(pos, b)) return fail(fileEndsEarly(pos));
  if (b != markerByte) return fail(noMarker(pos, "byte " + hexByte(b)));
  uint8_t code = markerByte;
  while (code == markerByte) {  // fill bytes: the marker is the last 0xFF of the run
    if (!file.u8At(pos + 1, code)) return fail(fileEndsEarly(pos + 1));
    if (code == markerByte) ++pos;
  }
  if (isReserved(code)) return fail(noMarker(pos, "bytes 0xFF " + hexByte(code)));
  const type_t type = static_cast<type_t>(code);
  uint32_t len = 2;
  if (!isStandalone(code)) {
    uint16_t field = 0;
    if (!file.u16At(pos + 2, field)) return fail(runsPastTheEnd(type, pos));
    if (field < 2) return fail(lengthTooSmall(type, pos, field));
    len = 2u + field;
    // Checked against the file's size: the segment's bytes are loaded by
    // whoever reads them.
    if (!file.has(pos, len)) return fail(runsPastTheEnd(type, pos));
  }
  // The marker's own bytes are loaded (they were just read); the rest of
  // the segment is loaded by whoever reads it.
  const unsigned char* bytes = nullptr;
  file.viewAt(pos, 2, bytes);
  m = jfif_marker(type, len, static_cast<off_t>(pos), bytes);
  sc_at.pos = pos + len;
  if (type == jfif_marker::jm_sos) {
    sc_at.inScan = true;
    sc_at.scanStart = pos;
    sc_at.passedFrom = pos + len;
  }
  if (type == jfif_marker::jm_eoi) sc_at.done = true;
  return true;
}
