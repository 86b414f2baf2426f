// jpegHeader: does the file start as a JPEG stream (FF D8 FF)?
#ifndef ORVANE_OSMER_JPEGHEADER_H
#define ORVANE_OSMER_JPEGHEADER_H

#include "exceptions.h"
#include "jfif.h"
#include "orvaneExport.h"

class ORVANE_EXPORT jpegHeader {
 public:
  explicit jpegHeader(jfif& file);
  bool wellFormed() const { return j_wellFormed; }
  // What a file that is neither is: one that starts with an SOI marker but
  // no marker after it, as well as one without JPEG or EXIF structure.
  static misc_error notJpegOrExif() { return misc_error("", " is not a JPEG or EXIF file"); }

 private:
  bool j_wellFormed = false;
};

#endif
