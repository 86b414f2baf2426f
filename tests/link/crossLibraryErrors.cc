// A misc_error leaving each of the suite's three libraries reaches the
// tools' catch site (forEachFile) in a program linked exactly as the tools
// are.  It breaks when a library gets a C++ run-time or unwinder of its
// own, or a copy of misc_error's type information that the program's catch
// does not recognise.  The argument names the library the error leaves:
//   osmer   thrown by libosmer itself (a photograph that cannot be opened)
//   telmar  thrown while libtelmar renders a field (through its frames)
//   varden  thrown while a libvarden field kind is visited (its frames)
#include <cstring>

#include "asciiField.h"
#include "entry.h"
#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "fieldHandler.h"
#include "jfif.h"
#include "textHandler.h"
#include "toolDriver.h"

namespace {

// A field kind whose visit throws: libtelmar's renderer visits it.
class throwingField final : public field {
 public:
  throwingField() : field(entry()) {}
  void populate(mstream&) override {}
  void handleField(fieldHandler&) const override { throw misc_error(" thrown through libtelmar for", ""); }
};

// A visitor that throws: libvarden's asciiField calls it.
class throwingHandler final : public fieldHandler {
 public:
  void handleAscii(const asciiField&) override { throw misc_error(" thrown through libvarden for", ""); }
  void handleInteger(const integerField&) override {}
  void handleRational(const rationalField&) override {}
  void handleUndefined(const undefinedField&) override {}
  void handleReal(const realField&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  return toolMain([&] {
    forEachFile(argv + 1, argv + argc, [](const char* name) {
      if (std::strcmp(name, "telmar") == 0) {
        const throwingField f;
        plainTextHandler().fieldText(nullptr, &f);
      } else if (std::strcmp(name, "varden") == 0) {
        throwingHandler h;
        const asciiField f{entry()};
        f.handleField(h);
      } else {
        jfif file(name);
        exifHeader header(file);
        exif set(header);
      }
    });
  });
}
