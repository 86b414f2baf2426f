// jfif: one JPEG/EXIF file opened for reading, and its list of markers.
//
// Building a jfif opens the file but reads nothing yet; the header checks,
// the EXIF parser and buildMarkerList read as far as each needs.  A failed
// open is not thrown: err() tells it and the image stays empty.
#ifndef ORVANE_OSMER_JFIF_H
#define ORVANE_OSMER_JFIF_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "exceptions.h"
#include "fileImage.h"
#include "jfif_marker.h"
#include "orvaneExport.h"

class ORVANE_EXPORT jfif {
 public:
  explicit jfif(const char* name);
  jfif(const jfif&) = delete;
  jfif& operator=(const jfif&) = delete;

  // The errno of a failed open, else 0.
  int err() const { return j_err; }
  const char* name() const { return j_name.c_str(); }

  // Lists every marker of the file in file order, from the first byte to
  // EOI.  The argument is reserved; tools pass 0.  Damage does not throw
  // here: the list keeps every marker before it, and the walk throws it.
  void buildMarkerList(int);
  void rewind() { j_next = 0; }
  // The next listed marker of the given type (any type for jm_nada), or
  // jfif_marker::null.  At the end of a damaged file's list, throws the
  // misc_error that describes the damage.
  jfif_marker nextMarker(jfif_marker::type_t type);

  // The file's bytes, for the header checks and the EXIF parser.
  fileImage& image() { return j_image; }

 private:
  std::string j_name;
  fileImage j_image;
  int j_err = 0;
  std::vector<jfif_marker> j_markers;
  size_t j_next = 0;
  std::optional<misc_error> j_damage;
};

#endif
