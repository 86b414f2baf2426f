#include "exifLocator.h"

#include <utility>

#include "containerFormats.h"

namespace containers {

exifLocation failed(exifFormat format, misc_error damage) {
  exifLocation l;
  l.format = format;
  l.damage = std::move(damage);
  return l;
}

exifLocation truncated(exifFormat format, const std::string& what) {
  return failed(format, damageText::truncated(what));
}

exifLocation damaged(exifFormat format, const char* container, const std::string& what) {
  return failed(format, damageText::damagedIn(container, what));
}

exifLocation noExif(exifFormat format) {
  exifLocation l;
  l.format = format;
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
