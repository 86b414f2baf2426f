// exifTag: the table of known TIFF 6 / EXIF 2.3 tags and their names.
#ifndef ORVANE_OSMER_EXIFTAG_H
#define ORVANE_OSMER_EXIFTAG_H

#include <cstddef>

#include "orvaneExport.h"

struct tag {
  unsigned short tg_value;
  const char* tg_name;
  unsigned short value() const { return tg_value; }
  const char* name() const { return tg_name; }
};

class ORVANE_EXPORT exifTag {
 public:
  // The known tag with this number, or null.  GPS tags share their small
  // numbers with no TIFF or EXIF tag but InteroperabilityIndex (1); the
  // table lists the GPS meaning for those.
  static const tag* find(unsigned short value);

  static const tag* begin();
  static const tag* end();
};

#endif
