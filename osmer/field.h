// field: the base of typed IFD values.  A field is built from its entry,
// populated once from the EXIF block, then visited by fieldHandlers.
#ifndef ORVANE_OSMER_FIELD_H
#define ORVANE_OSMER_FIELD_H

#include "entry.h"
#include "orvaneExport.h"

class mstream;
class fieldHandler;

class ORVANE_EXPORT field {
 public:
  explicit field(const entry& e) : f_entry(e) {}
  field(const field&) = delete;
  field& operator=(const field&) = delete;

  // Fetches the value from the block.  Called once, by the EXIF parser,
  // which has checked with mstream::seekValue that the value lies inside
  // the block.
  virtual void populate(mstream& m) = 0;
  // Calls the handler's operation for this kind of field.
  virtual void handleField(fieldHandler& h) const = 0;
  virtual ~field();

  unsigned short tag() const { return f_entry.tag(); }
  const entry& fieldEntry() const { return f_entry; }

 protected:
  const entry f_entry;
};

#endif
