// asciiField: the value of a TIFF ASCII entry, exactly as stored.
//
// populate() copies exactly count() bytes and adds no terminator: a value
// whose stored bytes lack their NUL stays unterminated, so readers use count().
#ifndef ORVANE_VARDEN_ASCIIFIELD_H
#define ORVANE_VARDEN_ASCIIFIELD_H

#include <cstdint>
#include <memory>

#include "field.h"
#include "orvaneExport.h"

class ORVANE_EXPORT asciiField : public field {
 public:
  explicit asciiField(const entry& e);
  void populate(mstream& m) override;
  void handleField(fieldHandler& h) const override;

  // The empty string until populated.
  const char* value() const { return af_value.get(); }
  uint32_t count() const { return af_count; }

 private:
  std::unique_ptr<char[]> af_value;
  uint32_t af_count;
};

#endif
