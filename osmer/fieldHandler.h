// fieldHandler: a visitor over the field kinds.  The slot order is fixed:
// field kinds built into other libraries call it by position.
#ifndef ORVANE_OSMER_FIELDHANDLER_H
#define ORVANE_OSMER_FIELDHANDLER_H

class asciiField;
class integerField;
class rationalField;
class undefinedField;
class realField;

class fieldHandler {
 public:
  virtual void handleAscii(const asciiField& f) = 0;
  virtual void handleInteger(const integerField& f) = 0;
  virtual void handleRational(const rationalField& f) = 0;
  virtual void handleUndefined(const undefinedField& f) = 0;
  virtual void handleReal(const realField& f) = 0;

 protected:
  // Handlers are not deleted through this base; a virtual destructor here
  // would also take the slots that field kinds call by position.
  ~fieldHandler() = default;
};

#endif
