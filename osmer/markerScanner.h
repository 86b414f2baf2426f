// markerScanner: walks the marker segments of a file image in file order.
//
// Between segments a marker must stand (0xFF fill bytes may precede it).
// After SOS the entropy-coded data is searched for the next marker: stuffed
// 0xFF00 pairs and fill bytes are passed over, RSTn markers are reported as
// they come.  The walk ends at EOI, or at damage, which is kept as a
// misc_error value that says what is wrong and where.
#ifndef ORVANE_OSMER_MARKERSCANNER_H
#define ORVANE_OSMER_MARKERSCANNER_H

#include <cstddef>
#include <optional>
#include <string>

#include "exceptions.h"
#include "fileImage.h"
#include "jfif_marker.h"

class markerScanner {
 public:
  explicit markerScanner(fileImage& image) : ms_image(image) {}

  // Sets m to the next marker and returns true, or returns false when the
  // walk is over (after EOI or on damage).
  bool next(jfif_marker& m);

  // The damage that ended the walk, if any.
  const std::optional<misc_error>& damage() const { return ms_damage; }

 private:
  bool segmentAt(jfif_marker& m);
  bool scanEntropyData(jfif_marker& m);
  bool byteAt(size_t pos, unsigned char& b);
  bool fail(const std::string& what);

  fileImage& ms_image;
  size_t ms_pos = 0;
  size_t ms_scanStart = 0;  // offset of the SOS whose data is being scanned
  bool ms_inScan = false;
  bool ms_done = false;
  std::optional<misc_error> ms_damage;
};

#endif
