#include "flashpixWriter.h"

#include <algorithm>

namespace testjpeg {

namespace {

void put16(bytes& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}

void put32(bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 24));
  b.push_back(uint8_t(v >> 16));
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}

void putLe32(bytes& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
}

// "FPXR", NUL, version 0, the segment type.
bytes header(uint8_t type) { return {'F', 'P', 'X', 'R', 0, 0, type}; }

}  // namespace

bytes fpxContents(const std::vector<fpxEntry>& entries) {
  bytes b = header(1);
  put16(b, static_cast<uint16_t>(entries.size()));
  for (const fpxEntry& e : entries) {
    put32(b, e.size);
    b.push_back(0);  // default value: none
    for (char c : e.name) {
      b.push_back(static_cast<uint8_t>(c));
      b.push_back(0);
    }
    b.push_back(0);
    b.push_back(0);
    if (e.size == fpxStorage)
      for (int k = 0; k < 16; ++k) b.push_back(static_cast<uint8_t>(0xC0 + k));
  }
  return b;
}

bytes fpxData(uint16_t index, uint32_t offset, const bytes& data) {
  bytes b = header(2);
  put16(b, index);
  put32(b, offset);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

bytes fpxFree(size_t n) {
  bytes b = fpxData(fpxFreeIndex, 0, {});
  b.resize(b.size() + n, 0);
  return b;
}

std::vector<bytes> fpxStreamData(uint16_t index, const bytes& stream, size_t each) {
  std::vector<bytes> out;
  for (size_t at = 0; at < stream.size(); at += each) {
    const size_t n = std::min(each, stream.size() - at);
    out.push_back(fpxData(index, static_cast<uint32_t>(at),
                          bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                stream.begin() + static_cast<std::ptrdiff_t>(at + n))));
  }
  return out;
}

bytes fpxAudioStream(const bytes& wav) {
  // The stream header's contents are not read by the tools.
  bytes b = toBytes("stream header");
  put32(b, static_cast<uint32_t>(wav.size()));
  b.resize(28, 0x11);
  b.insert(b.end(), wav.begin(), wav.end());
  return b;
}

bytes wavClip(size_t samples, unsigned seed) {
  bytes b = toBytes("RIFF");
  putLe32(b, static_cast<uint32_t>(36 + samples));
  const bytes fmt = toBytes("WAVEfmt ");
  b.insert(b.end(), fmt.begin(), fmt.end());
  for (uint32_t v : {16u, 0x00010001u, 8000u, 8000u, 0x00080001u}) putLe32(b, v);
  const bytes data = toBytes("data");
  b.insert(b.end(), data.begin(), data.end());
  putLe32(b, static_cast<uint32_t>(samples));
  for (size_t k = 0; k < samples; ++k)
    b.push_back(static_cast<uint8_t>((seed * 131 + k * 7 + k / 253) & 0xFF));
  return b;
}

void fpxSegments(jpegWriter& w, const std::vector<bytes>& payloads) {
  for (const bytes& p : payloads) w.segment(0xE2, p);
}

}  // namespace testjpeg
