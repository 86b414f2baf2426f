// textHandler: renders the value of a field as text.
#ifndef ORVANE_TELMAR_TEXTHANDLER_H
#define ORVANE_TELMAR_TEXTHANDLER_H

#include <string>

#include "orvaneExport.h"

class ifd;
class field;

class ORVANE_EXPORT textHandler {
 public:
  // The field's value as NUL-terminated text, owned by the handler and valid
  // until its next call.  Never null.
  virtual const char* fieldText(const ifd* dir, const field* f) const = 0;
  virtual ~textHandler();
};

// The plain rendering: ASCII values up to their first NUL, numbers in
// decimal, rationals as n/d, several values separated by blanks, undefined
// bytes as text when printable and as hexadecimal pairs otherwise.
class ORVANE_EXPORT plainTextHandler : public textHandler {
 public:
  const char* fieldText(const ifd* dir, const field* f) const override;

  // Undefined values longer than this are shown as their first bytes and "...".
  static constexpr unsigned maxUndefinedShown = 64;

 private:
  mutable std::string th_text;
};

#endif
