// Test support: writes JPEG files segment by segment, and EXIF (TIFF)
// blocks in either byte order, so tests can build exactly the bytes they
// mean, damaged ones included.
#ifndef ORVANE_TESTS_JPEGWRITER_H
#define ORVANE_TESTS_JPEGWRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace testjpeg {

using bytes = std::vector<unsigned char>;

bytes toBytes(const std::string& s);

class jpegWriter {
 public:
  jpegWriter& soi() { return marker(0xD8); }
  jpegWriter& eoi() { return marker(0xD9); }
  // A marker without a length field (SOI, EOI, RSTn, TEM).
  jpegWriter& marker(uint8_t code);
  // A segment whose length field counts itself and the payload.
  jpegWriter& segment(uint8_t code, const bytes& payload);
  // A segment with a length field that may lie about the payload.
  jpegWriter& segmentWithLength(uint8_t code, uint16_t lengthField, const bytes& payload);
  jpegWriter& app0Jfif();
  jpegWriter& app1Exif(const bytes& tiff);
  jpegWriter& com(const std::string& text) { return segment(0xFE, toBytes(text)); }
  // A small, valid baseline frame header, tables and scan header.
  jpegWriter& frameHeaders();
  jpegWriter& sos();
  // Entropy-coded bytes, written as given (stuff 0xFF yourself).
  jpegWriter& raw(const bytes& b);
  jpegWriter& text(const std::string& s) { return raw(toBytes(s)); }
  // SOI, APP0, optional EXIF APP1, headers, a little entropy data, EOI.
  jpegWriter& photo(const bytes& tiff = {});

  const bytes& data() const { return w_data; }
  size_t size() const { return w_data.size(); }
  void save(const std::string& path) const;

 private:
  bytes w_data;
};

// Directories of an EXIF block, in the order the writer lays them out.
enum class dir { ifd0, exif, gps, interop, ifd1 };

class tiffWriter {
 public:
  explicit tiffWriter(bool bigEndian = false) : t_big(bigEndian) {}

  // An entry with its raw value bytes (already in the block's byte order
  // when they are numbers: use the helpers below).
  tiffWriter& add(dir d, uint16_t tag, uint16_t type, uint32_t count, const bytes& value);
  // ASCII value; a NUL is appended unless withNul is false.
  tiffWriter& ascii(dir d, uint16_t tag, const std::string& text, bool withNul = true);
  tiffWriter& undefined(dir d, uint16_t tag, const bytes& value);
  tiffWriter& shorts(dir d, uint16_t tag, const std::vector<uint16_t>& v);
  tiffWriter& longs(dir d, uint16_t tag, const std::vector<uint32_t>& v);
  tiffWriter& rational(dir d, uint16_t tag, uint32_t num, uint32_t den);
  tiffWriter& dateTimeOriginal(const std::string& text) { return ascii(dir::exif, 0x9003, text); }

  bytes u16(uint16_t v) const;
  bytes u32(uint32_t v) const;

  // The block: header, then each non-empty directory (IFD0 always) with its
  // values after its table; pointer entries are added to IFD0 and the Exif
  // IFD as needed, IFD1 hangs on IFD0's next pointer.
  bytes build() const;
  // Block position of a directory's entry count in the last build (0 if absent).
  uint32_t dirOffset(dir d) const { return t_offsets[static_cast<int>(d)]; }

 private:
  struct item {
    uint16_t tag, type;
    uint32_t count;
    bytes value;
  };
  bool t_big;
  std::vector<item> t_dirs[5];
  mutable uint32_t t_offsets[5] = {};
};

}  // namespace testjpeg

#endif
