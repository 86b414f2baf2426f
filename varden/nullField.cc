#include "nullField.h"

#include <memory>

#include "asciiField.h"
#include "fieldKinds.h"
#include "undefinedField.h"

entry nullField::nf_e;

namespace {

template <class Kind>
std::unique_ptr<field> make(const entry& e) {
  return std::make_unique<Kind>(e);
}

// Loading this library gives the container library's EXIF parser its ASCII
// and UNDEFINED kinds; unloading takes them back.
struct registration {
  registration() {
    registerFieldKind(tiff_ascii, make<asciiField>);
    registerFieldKind(tiff_undefined, make<undefinedField>);
  }
  ~registration() {
    registerFieldKind(tiff_ascii, nullptr);
    registerFieldKind(tiff_undefined, nullptr);
  }
} const registered;

}  // namespace
