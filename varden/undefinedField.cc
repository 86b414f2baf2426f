#include "undefinedField.h"

#include "fieldHandler.h"
#include <utility>

#include "mstream.h"

undefinedField::undefinedField(const entry& e) : field(e), uf_count(e.count()) {}

void undefinedField::populate(mstream& m) {
  m.seekValue(f_entry);  // what lies outside the block reads as zero
  if (uf_count > 4 && m.block().loadsOnDemand()) {
    // Left where read() would leave it, as if the value had been copied.
    uf_source = m;
    uf_deferred = true;
    const unsigned long at = m.tell();
    const unsigned long inBlock = at < m.size() ? m.size() - at : 0;
    m = at + (uf_count < inBlock ? uf_count : inBlock);
    return;
  }
  uf_value.reset(new unsigned char[uf_count]);
  m.read(uf_value.get(), uf_count);
}

void undefinedField::copyValue() const {
  std::unique_ptr<unsigned char[]> v(new unsigned char[uf_count]);
  uf_source.read(v.get(), uf_count);
  uf_value = std::move(v);
  uf_deferred = false;
}

void undefinedField::handleField(fieldHandler& h) const { h.handleUndefined(*this); }
