#include "asciiField.h"

#include "fieldHandler.h"
#include "mstream.h"

asciiField::asciiField(const entry& e)
    : field(e), af_value(new char[1]{'\0'}), af_count(e.count()) {}

void asciiField::populate(mstream& m) {
  // Up to 4 bytes live in the entry's own value field, more at its offset.
  m = af_count > 4 ? f_entry.offset() : f_entry.offsetOffset();
  af_value.reset(new char[af_count]);
  m.read(af_value.get(), af_count);
}

void asciiField::handleField(fieldHandler& h) const { h.handleAscii(*this); }
