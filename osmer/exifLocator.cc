#include "exifLocator.h"

#include <cinttypes>
#include <cstdio>

#include "containerFormats.h"

namespace containers {

std::string atOffset(uint64_t pos) { return " at offset " + std::to_string(pos); }

std::string fourcc(uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>(code >> shift & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08" PRIX32, code);
      return hex;
    }
    text += c;
  }
  while (text.size() > 1 && text.back() == ' ') text.pop_back();  // "VP8 " is VP8
  return text;
}

exifLocation truncated(exifFormat format, const std::string& what) {
  exifLocation l;
  l.format = format;
  l.damage = misc_error("", (" is truncated: " + what).c_str());
  return l;
}

exifLocation damaged(exifFormat format, const char* container, const std::string& what) {
  exifLocation l;
  l.format = format;
  l.damage = misc_error("", (" has a damaged " + std::string(container) + ": " + what).c_str());
  return l;
}

exifLocation noExif(exifFormat format) {
  exifLocation l;
  l.format = format;
  return l;
}

exifLocation failedWith(exifFormat format, const misc_error& damage) {
  exifLocation l;
  l.format = format;
  l.damage = damage;
  return l;
}

exifLocation foundAt(exifFormat format, uint64_t offset, uint64_t length) {
  exifLocation l;
  l.format = format;
  l.pieces.push_back({offset, length});
  return l;
}

exifLocation foundInChunk(exifFormat format, const byteReader& file, uint64_t data, uint64_t size) {
  static const unsigned char app1Identifier[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (size >= sizeof app1Identifier && file.startsWith(data, app1Identifier, sizeof app1Identifier)) {
    data += sizeof app1Identifier;
    size -= sizeof app1Identifier;
  }
  return foundAt(format, data, size);
}

}  // namespace containers

namespace {

struct format {
  bool (*recognises)(const byteReader& head);
  exifLocation (*locate)(fileImage& image);
};

// The longest signature the formats look at.
constexpr size_t headSize = 16;

const format formats[] = {
#define ORVANE_FORMAT(name, stem, file) {containers::is##stem, containers::locateIn##stem},
#include "formats.def"
#undef ORVANE_FORMAT
};

}  // namespace

exifLocation locateExif(fileImage& image) {
  const byteReader head = image.reader(0, headSize);
  for (const format& f : formats)
    if (f.recognises(head)) return f.locate(image);
  return exifLocation();
}
