// The numeric field kinds of the container library: integers (BYTE, SHORT,
// LONG and their signed forms), rationals (RATIONAL, SRATIONAL) and reals
// (FLOAT, DOUBLE).  Each keeps a view of its values in the EXIF block and
// decodes one on request, so populating one allocates nothing.
#ifndef ORVANE_OSMER_NUMERICFIELDS_H
#define ORVANE_OSMER_NUMERICFIELDS_H

#include <cstdint>

#include "byteReader.h"
#include "field.h"
#include "orvaneExport.h"

class ORVANE_EXPORT numericField : public field {
 public:
  explicit numericField(const entry& e) : field(e) {}
  void populate(mstream& m) override;
  // Number of values (0 before populate, or when the value was not found).
  uint32_t count() const { return nm_count; }

 protected:
  byteReader nm_values;  // count x unit size bytes, in the block's byte order
  uint32_t nm_count = 0;
};

class ORVANE_EXPORT integerField : public numericField {
 public:
  explicit integerField(const entry& e) : numericField(e) {}
  void handleField(fieldHandler& h) const override;
  int64_t value(uint32_t i) const;
  bool isSigned() const;
};

class ORVANE_EXPORT rationalField : public numericField {
 public:
  explicit rationalField(const entry& e) : numericField(e) {}
  void handleField(fieldHandler& h) const override;
  int64_t numerator(uint32_t i) const;
  int64_t denominator(uint32_t i) const;
  bool isSigned() const { return f_entry.type() == tiff_srational; }
};

class ORVANE_EXPORT realField : public numericField {
 public:
  explicit realField(const entry& e) : numericField(e) {}
  void handleField(fieldHandler& h) const override;
  double value(uint32_t i) const;
};

#endif
