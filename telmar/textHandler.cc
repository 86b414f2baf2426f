#include "textHandler.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "asciiField.h"
#include "fieldHandler.h"
#include "numericFields.h"
#include "undefinedField.h"

textHandler::~textHandler() = default;

namespace {

// Renders one field into a string through the field visitor.
class renderer final : public fieldHandler {
 public:
  explicit renderer(std::string& out) : r_out(out) {}

  void handleAscii(const asciiField& f) override {
    const char* v = f.value();
    const void* nul = std::memchr(v, '\0', f.count());
    r_out.assign(v, nul ? static_cast<const char*>(nul) - v : f.count());
  }
  void handleInteger(const integerField& f) override {
    for (uint32_t i = 0; i < f.count(); ++i) append("%" PRId64, f.value(i), i);
  }
  void handleRational(const rationalField& f) override {
    char text[48];
    for (uint32_t i = 0; i < f.count(); ++i) {
      std::snprintf(text, sizeof text, "%s%" PRId64 "/%" PRId64, i ? " " : "", f.numerator(i),
                    f.denominator(i));
      r_out += text;
    }
  }
  void handleUndefined(const undefinedField& f) override {
    const unsigned char* v = f.value();
    uint32_t n = v ? f.count() : 0;
    uint32_t shown = n < plainTextHandler::maxUndefinedShown ? n : plainTextHandler::maxUndefinedShown;
    uint32_t text = shown;
    while (text > 0 && v[text - 1] == 0) --text;  // trailing NUL padding
    bool printable = text > 0;
    for (uint32_t i = 0; i < text && printable; ++i) printable = v[i] >= 0x20 && v[i] < 0x7F;
    if (printable) {
      r_out.assign(reinterpret_cast<const char*>(v), text);
    } else {
      char hex[4];
      for (uint32_t i = 0; i < shown; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", v[i]);
        r_out += hex;
      }
    }
    if (shown < n) r_out += " ...";
  }
  void handleReal(const realField& f) override {
    char text[40];
    for (uint32_t i = 0; i < f.count(); ++i) {
      std::snprintf(text, sizeof text, "%s%g", i ? " " : "", f.value(i));
      r_out += text;
    }
  }

 private:
  void append(const char* fmt, int64_t v, uint32_t i) {
    char text[32];
    if (i) r_out += ' ';
    std::snprintf(text, sizeof text, fmt, v);
    r_out += text;
  }
  std::string& r_out;
};

}  // namespace

const char* plainTextHandler::fieldText(const ifd*, const field* f) const {
  th_text.clear();
  if (f) {
    renderer r(th_text);
    f->handleField(r);
  }
  return th_text.c_str();
}
