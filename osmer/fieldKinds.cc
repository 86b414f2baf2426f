#include "fieldKinds.h"

#include "numericFields.h"

namespace {

// Indexed by TIFF type; ASCII (2) and UNDEFINED (7) come from libvarden.
// Constant-initialised, so it is ready before any library's constructors run.
fieldMaker makers[14] = {
    nullptr,                        makeFieldIn<integerField>,  nullptr,
    makeFieldIn<integerField>,      makeFieldIn<integerField>,  makeFieldIn<rationalField>,
    makeFieldIn<integerField>,      nullptr,                    makeFieldIn<integerField>,
    makeFieldIn<integerField>,      makeFieldIn<rationalField>, makeFieldIn<realField>,
    makeFieldIn<realField>,         makeFieldIn<integerField>};

}  // namespace

bool registerFieldKind(unsigned short tiffType, fieldMaker maker) {
  if (tiffType == 0 || tiffType >= 14) return false;
  makers[tiffType] = maker;
  return true;
}

fieldPtr makeField(const entry& e, fieldArena& arena) {
  const unsigned type = e.type();
  if (type >= 14 || !makers[type]) return nullptr;
  return fieldPtr(makers[type](arena, e));
}

const char* missingFieldKinds() {
  return makers[tiff_ascii] && makers[tiff_undefined] ? nullptr : "libvarden";
}
