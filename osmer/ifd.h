// ifd: one image file directory of an EXIF block and the fields it holds.
#ifndef ORVANE_OSMER_IFD_H
#define ORVANE_OSMER_IFD_H

#include <cstdint>
#include <memory>
#include <vector>

#include "field.h"

class ifd {
 public:
  enum kind_t { ifd0, exifIfd, gpsIfd, interopIfd, ifd1 };

  ifd(kind_t kind, uint32_t offset) : i_kind(kind), i_offset(offset) {}

  kind_t kind() const { return i_kind; }
  // "IFD0", "Exif", "GPS", "Interop", "IFD1".
  const char* name() const;
  // Block position of the directory's entry count.
  uint32_t offset() const { return i_offset; }

  const std::vector<std::unique_ptr<field>>& fields() const { return i_fields; }
  // The first field with the tag in this directory, or null.
  const field* find(unsigned short tag) const;
  void add(std::unique_ptr<field> f) { i_fields.push_back(std::move(f)); }
  void reserve(size_t n) { i_fields.reserve(n); }

 private:
  kind_t i_kind;
  uint32_t i_offset;
  std::vector<std::unique_ptr<field>> i_fields;
};

#endif
