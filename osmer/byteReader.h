// byteReader: the one way the container library reads bytes of a file image.
//
// A view of a span of bytes with explicit bounds.  Every read says whether
// it succeeded; a failed read leaves the output untouched.  Positions and
// lengths are taken as 64-bit values so that offset + length read from a
// file can never wrap around.
//
// A reader over a file image that is loaded page by page has a byteSource:
// before any byte is exposed, the source is asked to load it.  Readers over
// plain memory have none.
#ifndef ORVANE_OSMER_BYTEREADER_H
#define ORVANE_OSMER_BYTEREADER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// Bytes that are brought in on demand, a page at a time.  Whether a page is
// already there is looked up inline (one bit each); only a missing page
// costs a call.  The page map is the one record of what is loaded: readers
// keep none of their own, so a page the image lets go is read again when a
// reader looks at it.
class byteSource {
 public:
  static constexpr unsigned pageShift = 12;
  static constexpr size_t pageSize = size_t(1) << pageShift;

  // Makes the n bytes at pos (n > 0) hold what the file holds there.
  // Throws misc_error when they cannot be read, or when they no longer lie
  // inside the file (it was found shorter than when it was opened): no byte
  // that was not read from the file is ever exposed.
  void load(size_t pos, size_t n) {
    if (pos <= bs_size && n <= bs_size - pos) {
      if (bs_complete) return;
      const size_t first = pos >> pageShift, last = (pos + n - 1) >> pageShift;
      if (first == last ? present(first) : allPresent(first, last)) return;
    }
    loadMissing(pos, n);
  }
  // The file's size as far as it is known now.
  size_t knownSize() const { return bs_size; }

 protected:
  byteSource() = default;
  ~byteSource() = default;
  bool present(size_t page) const { return bs_pages[page >> 6] >> (page & 63) & 1u; }
  // Whether pages first to last are all loaded: a word of the map at a time.
  bool allPresent(size_t first, size_t last) const {
    for (size_t word = first >> 6; word <= last >> 6; ++word) {
      uint64_t want = ~uint64_t(0);
      if (word == first >> 6) want &= ~uint64_t(0) << (first & 63);
      if (word == last >> 6) want &= ~uint64_t(0) >> (63 - (last & 63));
      if ((bs_pages[word] & want) != want) return false;
    }
    return true;
  }
  virtual void loadMissing(size_t pos, size_t n) = 0;

  const uint64_t* bs_pages = nullptr;  // one bit per page, set when it is loaded
  size_t bs_size = 0;                  // drops when the file is found shorter
  bool bs_complete = false;            // every page below bs_size is loaded
};

class byteReader {
 public:
  byteReader() = default;
  byteReader(const unsigned char* data, size_t size, bool bigEndian = true)
      : br_data(data), br_size(size), br_big(bigEndian) {}
  // The size bytes at data, which lie at position origin of source.
  byteReader(const unsigned char* data, size_t size, byteSource* source, size_t origin)
      : br_data(data), br_size(size), br_source(source), br_origin(origin) {}

  size_t size() const { return br_size; }
  // The file position of the span's first byte (0 over plain memory).
  size_t origin() const { return br_origin; }
  // True over a file image whose bytes are read as they are first looked at.
  bool loadsOnDemand() const { return br_source != nullptr; }
  bool bigEndian() const { return br_big; }
  void setBigEndian(bool big) { br_big = big; }

  // True when the n bytes at pos lie inside the span.
  bool has(uint64_t pos, uint64_t n) const {
    return pos <= br_size && n <= br_size - pos;
  }

  bool u8At(uint64_t pos, uint8_t& v) const {
    const unsigned char* p = at(pos, 1);
    if (!p) return false;
    v = p[0];
    return true;
  }
  bool u16At(uint64_t pos, uint16_t& v) const {
    const unsigned char* p = at(pos, 2);
    if (!p) return false;
    v = br_big ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
    return true;
  }
  bool u32At(uint64_t pos, uint32_t& v) const {
    const unsigned char* p = at(pos, 4);
    if (!p) return false;
    v = br_big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    return true;
  }

  // A pointer to the n bytes at pos.
  bool viewAt(uint64_t pos, uint64_t n, const unsigned char*& p) const {
    const unsigned char* q = at(pos, n);
    if (!q) return false;
    p = q;
    return true;
  }
  bool copyAt(uint64_t pos, void* dst, uint64_t n) const {
    const unsigned char* p = at(pos, n);
    if (!p) return false;
    if (n) std::memcpy(dst, p, static_cast<size_t>(n));
    return true;
  }
  bool startsWith(uint64_t pos, const void* text, size_t n) const {
    const unsigned char* p = at(pos, n);
    return p && std::memcmp(p, text, n) == 0;
  }

  // The n bytes at pos as a reader of their own (same byte order and source).
  bool sub(uint64_t pos, uint64_t n, byteReader& out) const {
    if (!has(pos, n)) return false;
    out = *this;
    out.br_data = br_data + pos;
    out.br_size = static_cast<size_t>(n);
    out.br_origin = br_origin + static_cast<size_t>(pos);
    return true;
  }

 private:
  // The n bytes at pos, brought in first when they are not loaded yet; null
  // when they do not lie inside the span.
  const unsigned char* at(uint64_t pos, uint64_t n) const {
    if (!has(pos, n)) return nullptr;
    if (br_source && n) br_source->load(br_origin + static_cast<size_t>(pos), static_cast<size_t>(n));
    return br_data + pos;
  }

  const unsigned char* br_data = nullptr;
  size_t br_size = 0;
  bool br_big = true;
  byteSource* br_source = nullptr;
  size_t br_origin = 0;  // position of br_data in the source (or in the memory it is part of)
};

#endif
