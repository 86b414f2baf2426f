// Loading this library gives the container library's EXIF parser its ASCII
// and UNDEFINED field kinds; unloading takes them back.  This is why every
// tool loads libvarden although none calls it.
#include "asciiField.h"
#include "fieldKinds.h"
#include "undefinedField.h"

namespace {

struct registration {
  registration() {
    registerFieldKind(tiff_ascii, makeFieldIn<asciiField>);
    registerFieldKind(tiff_undefined, makeFieldIn<undefinedField>);
  }
  ~registration() {
    registerFieldKind(tiff_ascii, nullptr);
    registerFieldKind(tiff_undefined, nullptr);
  }
} const registered;

}  // namespace
