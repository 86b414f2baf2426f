#include "ifd.h"

const char* ifd::name() const {
  static const char* const names[] = {"IFD0", "Exif", "GPS", "Interop", "IFD1"};
  return names[i_kind];
}

const field* ifd::find(unsigned short tag) const {
  for (const field* f : fields())
    if (f->tag() == tag) return f;
  return nullptr;
}
