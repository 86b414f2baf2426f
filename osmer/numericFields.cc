#include "numericFields.h"

#include <cstring>

#include "fieldHandler.h"
#include "mstream.h"

void numericField::populate(mstream& m) {
  const unsigned unit = tiffUnitSize(f_entry.type());
  const uint64_t bytes = uint64_t(f_entry.count()) * unit;
  const unsigned char* p = nullptr;
  // The size is checked against the block before it is narrowed: on a
  // 32-bit build a size of 2^32 bytes or more would wrap into a small one.
  if (unit == 0 || !m.seekValue(f_entry) || !m.view(static_cast<unsigned long>(bytes), p)) return;
  nm_values = byteReader(p, static_cast<size_t>(bytes), m.bigEndian());
  nm_count = f_entry.count();
}

bool integerField::isSigned() const {
  const unsigned t = f_entry.type();
  return t == tiff_sbyte || t == tiff_sshort || t == tiff_slong;
}

int64_t integerField::value(uint32_t i) const {
  if (i >= nm_count) return 0;
  const unsigned unit = tiffUnitSize(f_entry.type());
  const uint64_t at = uint64_t(i) * unit;
  uint8_t b = 0;
  uint16_t s = 0;
  uint32_t l = 0;
  switch (unit) {
    case 1:
      nm_values.u8At(at, b);
      return isSigned() ? int64_t(int8_t(b)) : int64_t(b);
    case 2:
      nm_values.u16At(at, s);
      return isSigned() ? int64_t(int16_t(s)) : int64_t(s);
    default:
      nm_values.u32At(at, l);
      return isSigned() ? int64_t(int32_t(l)) : int64_t(l);
  }
}

void integerField::handleField(fieldHandler& h) const { h.handleInteger(*this); }

int64_t rationalField::numerator(uint32_t i) const {
  uint32_t v = 0;
  if (i < nm_count) nm_values.u32At(uint64_t(i) * 8, v);
  return isSigned() ? int64_t(int32_t(v)) : int64_t(v);
}

int64_t rationalField::denominator(uint32_t i) const {
  uint32_t v = 0;
  if (i < nm_count) nm_values.u32At(uint64_t(i) * 8 + 4, v);
  return isSigned() ? int64_t(int32_t(v)) : int64_t(v);
}

void rationalField::handleField(fieldHandler& h) const { h.handleRational(*this); }

double realField::value(uint32_t i) const {
  if (i >= nm_count) return 0;
  if (f_entry.type() == tiff_float) {
    uint32_t bits = 0;
    nm_values.u32At(uint64_t(i) * 4, bits);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  uint32_t hi = 0, lo = 0;
  const uint64_t at = uint64_t(i) * 8;
  if (nm_values.bigEndian()) {
    nm_values.u32At(at, hi);
    nm_values.u32At(at + 4, lo);
  } else {
    nm_values.u32At(at, lo);
    nm_values.u32At(at + 4, hi);
  }
  const uint64_t bits = uint64_t(hi) << 32 | lo;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

void realField::handleField(fieldHandler& h) const { h.handleReal(*this); }
