// jpegHeader: does the file start as a JPEG stream (FF D8 FF)?
#ifndef ORVANE_OSMER_JPEGHEADER_H
#define ORVANE_OSMER_JPEGHEADER_H

#include "jfif.h"
#include "orvaneExport.h"

class ORVANE_EXPORT jpegHeader {
 public:
  explicit jpegHeader(jfif& file);
  bool wellFormed() const { return j_wellFormed; }

 private:
  bool j_wellFormed = false;
};

#endif
