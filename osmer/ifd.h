// ifd: one image file directory of an EXIF block and the fields it holds.
//
// The directory and its fields live in the arena of their EXIF set, which
// also destroys them; an ifd only lists them.
#ifndef ORVANE_OSMER_IFD_H
#define ORVANE_OSMER_IFD_H

#include <cstddef>
#include <cstdint>

#include "field.h"
#include "orvaneExport.h"

// A list of objects owned elsewhere, in order: iterable and indexable.
template <class T>
class pointerList {
 public:
  pointerList(T* const* items, size_t n) : pl_items(items), pl_size(n) {}
  T* const* begin() const { return pl_items; }
  T* const* end() const { return pl_items + pl_size; }
  size_t size() const { return pl_size; }
  bool empty() const { return pl_size == 0; }
  T* operator[](size_t i) const { return pl_items[i]; }

 private:
  T* const* pl_items;
  size_t pl_size;
};

class ORVANE_EXPORT ifd {
 public:
  enum kind_t { ifd0, exifIfd, gpsIfd, interopIfd, ifd1 };

  // A directory with room for up to capacity fields, listed in slots.
  ifd(kind_t kind, uint32_t offset, field** slots, uint32_t capacity)
      : i_kind(kind), i_offset(offset), i_fields(slots), i_capacity(capacity) {}
  ifd(const ifd&) = delete;
  ifd& operator=(const ifd&) = delete;

  kind_t kind() const { return i_kind; }
  // "IFD0", "Exif", "GPS", "Interop", "IFD1".
  const char* name() const;
  // Block position of the directory's entry count.
  uint32_t offset() const { return i_offset; }

  pointerList<field> fields() const { return pointerList<field>(i_fields, i_count); }
  // The first field with the tag in this directory, or null.
  const field* find(unsigned short tag) const;
  // Lists one more field; false when the directory is full.
  bool add(field* f) {
    if (i_count == i_capacity) return false;
    i_fields[i_count++] = f;
    return true;
  }

 private:
  kind_t i_kind;
  uint32_t i_offset;
  field** i_fields;
  uint32_t i_count = 0;
  uint32_t i_capacity;
};

#endif
