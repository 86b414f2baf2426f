#include "markerScanner.h"

#include <cstdio>

namespace {

using type_t = jfif_marker::type_t;

bool isRst(unsigned code) { return code >= 0xD0 && code <= 0xD7; }

// Markers that stand alone, without a length field.
bool isStandalone(unsigned code) {
  return code == 0x01 || isRst(code) || code == 0xD8 || code == 0xD9;
}

std::string format(const char* fmt, const char* name, unsigned long long a,
                   unsigned long long b = 0) {
  char text[160];
  if (name)
    std::snprintf(text, sizeof text, fmt, name, a, b);
  else
    std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

}  // namespace

bool markerScanner::fail(const std::string& what) {
  ms_damage.emplace("", what.c_str());
  ms_done = true;
  return false;
}

bool markerScanner::byteAt(size_t pos, unsigned char& b) {
  if (pos >= ms_image.loaded()) ms_image.ensure(pos + 1);
  uint8_t v;
  if (!ms_image.reader().u8At(pos, v)) return false;
  b = v;
  return true;
}

bool markerScanner::next(jfif_marker& m) {
  if (ms_done) return false;
  if (ms_inScan && !scanEntropyData(m)) return false;
  if (ms_inScan) return true;  // an RSTn inside the scan
  return segmentAt(m);
}

// Finds the marker that ends (or interrupts, for RSTn) the entropy-coded
// data that starts at ms_pos.  Leaves ms_pos at the marker's 0xFF byte.
bool markerScanner::scanEntropyData(jfif_marker& m) {
  size_t pos = ms_pos;
  for (;;) {
    size_t hit = ms_image.reader().findMarkerStart(pos);
    if (hit == byteReader::npos) {
      size_t had = ms_image.loaded();
      if (ms_image.ensure(had + 1) == had)
        return fail(format(" is truncated: the image data of the SOS at offset %llu "
                           "ends without an EOI marker",
                           nullptr, ms_scanStart));
      pos = had;
      continue;
    }
    unsigned char code;
    if (!byteAt(hit + 1, code))
      return fail(format(" is truncated: the image data of the SOS at offset %llu "
                         "ends without an EOI marker",
                         nullptr, ms_scanStart));
    if (code == 0x00 || code == 0xFF) {  // stuffed byte, or fill before a marker
      pos = code == 0x00 ? hit + 2 : hit + 1;
      continue;
    }
    if (isRst(code)) {
      m = jfif_marker(static_cast<type_t>(code), 2, static_cast<off_t>(hit),
                      ms_image.data() + hit);
      ms_pos = hit + 2;
      return true;
    }
    ms_pos = hit;
    ms_inScan = false;
    return true;
  }
}

bool markerScanner::segmentAt(jfif_marker& m) {
  size_t pos = ms_pos;
  unsigned char b;
  if (!byteAt(pos, b))
    return fail(format(" is truncated: the file ends at offset %llu without an EOI marker",
                       nullptr, pos));
  if (b != 0xFF)
    return fail(format(" is damaged: no marker at offset %llu (byte 0x%02llX)", nullptr, pos, b));
  unsigned char code = 0xFF;
  while (code == 0xFF) {  // fill bytes: the marker is the last 0xFF of the run
    if (!byteAt(pos + 1, code))
      return fail(format(" is truncated: the file ends at offset %llu without an EOI marker",
                         nullptr, pos + 1));
    if (code == 0xFF) ++pos;
  }
  if (code == 0x00 || (code >= 0x02 && code < 0xC0))
    return fail(format(" is damaged: no marker at offset %llu (bytes 0xFF 0x%02llX)", nullptr,
                       pos, code));
  const type_t type = static_cast<type_t>(code);
  uint32_t len = 2;
  if (!isStandalone(code)) {
    ms_image.ensure(pos + 4);
    uint16_t field;
    if (!ms_image.reader().u16At(pos + 2, field))
      return fail(format(" is truncated: %s at offset %llu runs past the end of the file",
                         jfif_marker::name(type), pos));
    if (field < 2)
      return fail(format(" is damaged: %s at offset %llu has a length field of %llu",
                         jfif_marker::name(type), pos, field));
    len = 2u + field;
    if (ms_image.ensure(pos + len) < pos + len)
      return fail(format(" is truncated: %s at offset %llu runs past the end of the file",
                         jfif_marker::name(type), pos));
  }
  m = jfif_marker(type, len, static_cast<off_t>(pos), ms_image.data() + pos);
  ms_pos = pos + len;
  if (type == jfif_marker::jm_sos) {
    ms_inScan = true;
    ms_scanStart = pos;
  }
  if (type == jfif_marker::jm_eoi) ms_done = true;
  return true;
}
