#include "jpegWriter.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace testjpeg {

bytes toBytes(const std::string& s) { return bytes(s.begin(), s.end()); }

jpegWriter& jpegWriter::marker(uint8_t code) {
  w_data.push_back(0xFF);
  w_data.push_back(code);
  return *this;
}

jpegWriter& jpegWriter::segment(uint8_t code, const bytes& payload) {
  return segmentWithLength(code, static_cast<uint16_t>(payload.size() + 2), payload);
}

jpegWriter& jpegWriter::segmentWithLength(uint8_t code, uint16_t lengthField, const bytes& payload) {
  marker(code);
  w_data.push_back(static_cast<unsigned char>(lengthField >> 8));
  w_data.push_back(static_cast<unsigned char>(lengthField & 0xFF));
  return raw(payload);
}

jpegWriter& jpegWriter::app0Jfif() {
  return segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
}

jpegWriter& jpegWriter::app1Exif(const bytes& tiff) {
  bytes payload = {'E', 'x', 'i', 'f', 0, 0};
  payload.insert(payload.end(), tiff.begin(), tiff.end());
  return segment(0xE1, payload);
}

jpegWriter& jpegWriter::frameHeaders() {
  bytes dqt(65, 1);
  dqt[0] = 0;
  segment(0xDB, dqt);
  segment(0xC0, {8, 0, 8, 0, 8, 1, 1, 0x11, 0});  // 8x8, one component
  bytes dht = {0x00, 0, 1};                        // DC table: one code of length 2
  dht.resize(17, 0);
  dht.push_back(0);
  segment(0xC4, dht);
  return *this;
}

jpegWriter& jpegWriter::sos() { return segment(0xDA, {1, 1, 0x00, 0, 63, 0}); }

jpegWriter& jpegWriter::raw(const bytes& b) {
  w_data.insert(w_data.end(), b.begin(), b.end());
  return *this;
}

jpegWriter& jpegWriter::photo(const bytes& tiff) {
  soi().app0Jfif();
  if (!tiff.empty()) app1Exif(tiff);
  frameHeaders().sos();
  raw({0x12, 0x34, 0xFF, 0x00, 0x56});
  return eoi();
}

void jpegWriter::save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(w_data.data()), static_cast<std::streamsize>(w_data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bytes tiffWriter::u16(uint16_t v) const {
  return t_big ? bytes{uint8_t(v >> 8), uint8_t(v)} : bytes{uint8_t(v), uint8_t(v >> 8)};
}

bytes tiffWriter::u32(uint32_t v) const {
  return t_big ? bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}
               : bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

tiffWriter& tiffWriter::add(dir d, uint16_t tag, uint16_t type, uint32_t count, const bytes& value) {
  t_dirs[static_cast<int>(d)].push_back({tag, type, count, value});
  return *this;
}

tiffWriter& tiffWriter::ascii(dir d, uint16_t tag, const std::string& text, bool withNul) {
  bytes v = toBytes(text);
  if (withNul) v.push_back(0);
  return add(d, tag, 2, static_cast<uint32_t>(v.size()), v);
}

tiffWriter& tiffWriter::undefined(dir d, uint16_t tag, const bytes& value) {
  return add(d, tag, 7, static_cast<uint32_t>(value.size()), value);
}

tiffWriter& tiffWriter::shorts(dir d, uint16_t tag, const std::vector<uint16_t>& v) {
  bytes b;
  for (uint16_t x : v) {
    bytes e = u16(x);
    b.insert(b.end(), e.begin(), e.end());
  }
  return add(d, tag, 3, static_cast<uint32_t>(v.size()), b);
}

tiffWriter& tiffWriter::longs(dir d, uint16_t tag, const std::vector<uint32_t>& v) {
  bytes b;
  for (uint32_t x : v) {
    bytes e = u32(x);
    b.insert(b.end(), e.begin(), e.end());
  }
  return add(d, tag, 4, static_cast<uint32_t>(v.size()), b);
}

tiffWriter& tiffWriter::rational(dir d, uint16_t tag, uint32_t num, uint32_t den) {
  bytes b = u32(num), e = u32(den);
  b.insert(b.end(), e.begin(), e.end());
  return add(d, tag, 5, 1, b);
}

bytes tiffWriter::build() const {
  std::vector<item> dirs[5];
  for (int i = 0; i < 5; ++i) dirs[i] = t_dirs[i];
  const int ifd0 = 0, exif = 1, gps = 2, interop = 3, ifd1 = 4;
  // Pointer entries get their values once the layout is known.
  if (!dirs[interop].empty()) dirs[exif].push_back({0xA005, 4, 1, u32(0)});
  if (!dirs[exif].empty()) dirs[ifd0].push_back({0x8769, 4, 1, u32(0)});
  if (!dirs[gps].empty()) dirs[ifd0].push_back({0x8825, 4, 1, u32(0)});

  auto tableSize = [](const std::vector<item>& d) { return 2 + 12 * d.size() + 4; };
  auto valuesSize = [](const std::vector<item>& d) {
    size_t n = 0;
    for (const item& it : d)
      if (it.value.size() > 4) n += it.value.size() + (it.value.size() & 1);
    return n;
  };
  uint32_t at = 8;
  for (int i = 0; i < 5; ++i) {
    t_offsets[i] = 0;
    if (i != ifd0 && dirs[i].empty()) continue;
    t_offsets[i] = at;
    at += static_cast<uint32_t>(tableSize(dirs[i]) + valuesSize(dirs[i]));
  }
  auto setPointer = [&](int d, uint16_t tag, uint32_t value) {
    for (item& it : dirs[d])
      if (it.tag == tag) it.value = u32(value);
  };
  setPointer(ifd0, 0x8769, t_offsets[exif]);
  setPointer(ifd0, 0x8825, t_offsets[gps]);
  setPointer(exif, 0xA005, t_offsets[interop]);

  bytes out = t_big ? bytes{'M', 'M', 0, 42} : bytes{'I', 'I', 42, 0};
  bytes first = u32(8);
  out.insert(out.end(), first.begin(), first.end());
  for (int i = 0; i < 5; ++i) {
    if (i != ifd0 && dirs[i].empty()) continue;
    std::vector<item>& d = dirs[i];
    std::stable_sort(d.begin(), d.end(), [](const item& a, const item& b) { return a.tag < b.tag; });
    uint32_t valueAt = t_offsets[i] + static_cast<uint32_t>(tableSize(d));
    bytes table = u16(static_cast<uint16_t>(d.size())), values;
    for (const item& it : d) {
      bytes e = u16(it.tag), t = u16(it.type), c = u32(it.count);
      table.insert(table.end(), e.begin(), e.end());
      table.insert(table.end(), t.begin(), t.end());
      table.insert(table.end(), c.begin(), c.end());
      if (it.value.size() > 4) {
        bytes o = u32(valueAt + static_cast<uint32_t>(values.size()));
        table.insert(table.end(), o.begin(), o.end());
        values.insert(values.end(), it.value.begin(), it.value.end());
        if (it.value.size() & 1) values.push_back(0);
      } else {
        bytes v = it.value;
        v.resize(4, 0);
        table.insert(table.end(), v.begin(), v.end());
      }
    }
    bytes next = u32(i == ifd0 && !dirs[ifd1].empty() ? t_offsets[ifd1] : 0);
    table.insert(table.end(), next.begin(), next.end());
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), values.begin(), values.end());
  }
  return out;
}

}  // namespace testjpeg
