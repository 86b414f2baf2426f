// nullField: holder of the shared empty entry.
#ifndef ORVANE_VARDEN_NULLFIELD_H
#define ORVANE_VARDEN_NULLFIELD_H

#include "entry.h"
#include "orvaneExport.h"

class ORVANE_EXPORT nullField {
 public:
  static const entry& emptyEntry() { return nf_e; }

 private:
  static entry nf_e;
};

#endif
