#include "undefinedField.h"

#include "fieldHandler.h"
#include "mstream.h"

undefinedField::undefinedField(const entry& e) : field(e), uf_count(e.count()) {}

void undefinedField::populate(mstream& m) {
  m = uf_count > 4 ? f_entry.offset() : f_entry.offsetOffset();
  uf_value.reset(new unsigned char[uf_count]);
  m.read(uf_value.get(), uf_count);
}

void undefinedField::handleField(fieldHandler& h) const { h.handleUndefined(*this); }
