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

  // The n bytes at pos as a reader of their own (same byte order).
  bool sub(uint64_t pos, uint64_t n, byteReader& out) const {
    if (!has(pos, n)) return false;
    out = byteReader(br_data + pos, static_cast<size_t>(n), br_big);
    return true;
  }

 private:
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
