#include "nullField.h"

#include "asciiField.h"
#include "fieldKinds.h"
#include "undefinedField.h"

entry nullField::nf_e;

namespace {

// Loading this library gives the container library's EXIF parser its ASCII
// and UNDEFINED kinds; unloading takes them back.
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
