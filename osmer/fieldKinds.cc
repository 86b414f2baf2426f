#include "fieldKinds.h"

#include "numericFields.h"

namespace {

template <class Kind>
std::unique_ptr<field> make(const entry& e) {
  return std::make_unique<Kind>(e);
}

// Indexed by TIFF type; ASCII (2) and UNDEFINED (7) come from libvarden.
// Constant-initialised, so it is ready before any library's constructors run.
fieldMaker makers[14] = {
    nullptr,               make<integerField>,  nullptr,              make<integerField>,
    make<integerField>,    make<rationalField>, make<integerField>,   nullptr,
    make<integerField>,    make<integerField>,  make<rationalField>,  make<realField>,
    make<realField>,       make<integerField>};

}  // namespace

bool registerFieldKind(unsigned short tiffType, fieldMaker maker) {
  if (tiffType == 0 || tiffType >= 14) return false;
  makers[tiffType] = maker;
  return true;
}

std::unique_ptr<field> makeField(const entry& e) {
  const unsigned type = e.type();
  if (type >= 14 || !makers[type]) return nullptr;
  return makers[type](e);
}
