// jfif: one JPEG/EXIF file opened for reading, and its list of markers.
//
// Building a jfif opens the file but reads nothing yet; the header checks,
// the EXIF parser and buildMarkerList read as far as each needs.  A failed
// open is not thrown: err() tells it and the image stays empty.
//
// buildMarkerList walks the whole list once, reading the file as far as it
// goes, and keeps the first few thousand markers; later ones are found
// again by the same walk as they are asked for.  So a file of millions of
// restart markers costs no more memory than its image and a constant; of a
// file larger than heldWhole, only the pages that hold its segments and
// markers.
#ifndef ORVANE_OSMER_JFIF_H
#define ORVANE_OSMER_JFIF_H

#include <cstddef>
#include <string>
#include <vector>

#include "exceptions.h"
#include "fileImage.h"
#include "jfif_marker.h"
#include "orvaneExport.h"
#include "markerScanner.h"

class ORVANE_EXPORT jfif {
 public:
  explicit jfif(const char* name);
  jfif(const jfif&) = delete;
  jfif& operator=(const jfif&) = delete;

  // The errno of a failed open, else 0.
  int err() const { return j_err; }
  const char* name() const { return j_name.c_str(); }

  // Lists every marker of the file in file order, from the first byte to
  // EOI, and rewinds.  The argument is reserved; tools pass 0.  An I/O
  // error throws here; damage does not: the list holds every marker before
  // it, and the walk throws it.
  void buildMarkerList(int);
  void rewind();
  // The next listed marker of the given type (any type for jm_nada), or
  // jfif_marker::null.  At the end of a damaged file's list, throws the
  // misc_error that describes the damage.
  jfif_marker nextMarker(jfif_marker::type_t type);

  // How many markers buildMarkerList keeps.
  static constexpr size_t keptMarkers = 8192;
  // A file larger than this is not held whole once listed: the image data
  // between SOS and EOI goes once walked (markerScanner::letImageDataGo),
  // so that memory follows the segments kept, not the file's size.
  static constexpr size_t heldWhole = 64 * 1024 * 1024;

  // A reader over a segment's payload (the bytes after its marker and
  // length field; none for a marker without one), which loads what it reads.
  byteReader segment(const jfif_marker& m) {
    return j_image.reader(static_cast<size_t>(m.offset()) + jfif_marker::headerSize, m.payloadSize());
  }

  // The file's bytes, for the header checks and the EXIF parser.
  fileImage& image() { return j_image; }

 private:
  std::string j_name;
  fileImage j_image;
  int j_err = 0;
  markerScanner j_walk{j_image};
  std::vector<jfif_marker> j_kept;  // the first markers of the list
  size_t j_next = 0;                // next of j_kept to return
  bool j_listed = false;            // buildMarkerList has run
  bool j_walking = false;           // past j_kept: j_walk goes on from j_afterKept
  markerScanner::place j_afterKept;
};

#endif
