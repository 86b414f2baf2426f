// undefinedField: the bytes of a TIFF UNDEFINED entry, exactly as stored.
//
// A value stored apart from its entry (more than 4 bytes: a maker note can
// be tens of kilobytes) in a block read from a file on demand is copied
// when it is first asked for, so that a program that never looks at it
// never reads it.  The file must still be open then.
#ifndef ORVANE_VARDEN_UNDEFINEDFIELD_H
#define ORVANE_VARDEN_UNDEFINEDFIELD_H

#include <cstdint>
#include <memory>

#include "field.h"
#include "orvaneExport.h"
#include "mstream.h"

class ORVANE_EXPORT undefinedField : public field {
 public:
  explicit undefinedField(const entry& e);
  void populate(mstream& m) override;
  void handleField(fieldHandler& h) const override;

  // Null until populated.  Throws misc_error when the file cannot be read.
  const unsigned char* value() const {
    if (uf_deferred) copyValue();
    return uf_value.get();
  }
  uint32_t count() const { return uf_count; }

 private:
  void copyValue() const;

  mutable std::unique_ptr<unsigned char[]> uf_value;
  uint32_t uf_count;
  mutable bool uf_deferred = false;  // uf_source is at the value, not copied yet
  mutable mstream uf_source;
};

#endif
