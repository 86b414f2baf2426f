// undefinedField: the bytes of a TIFF UNDEFINED entry, exactly as stored.
#ifndef ORVANE_VARDEN_UNDEFINEDFIELD_H
#define ORVANE_VARDEN_UNDEFINEDFIELD_H

#include <cstdint>
#include <memory>

#include "field.h"
#include "orvaneExport.h"

class ORVANE_EXPORT undefinedField : public field {
 public:
  explicit undefinedField(const entry& e);
  void populate(mstream& m) override;
  void handleField(fieldHandler& h) const override;

  // Null until populated.
  const unsigned char* value() const { return uf_value.get(); }
  uint32_t count() const { return uf_count; }

 private:
  std::unique_ptr<unsigned char[]> uf_value;
  uint32_t uf_count;
};

#endif
