#include "asciiField.h"

#include "fieldHandler.h"
#include "mstream.h"

asciiField::asciiField(const entry& e)
    : field(e), af_value(new char[1]{'\0'}), af_count(e.count()) {}

void asciiField::populate(mstream& m) {
  m.seekValue(f_entry);  // what lies outside the block reads as zero
  af_value.reset(new char[af_count]);
  m.read(af_value.get(), af_count);
}

void asciiField::handleField(fieldHandler& h) const { h.handleAscii(*this); }
