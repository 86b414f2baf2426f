// markerScanner: walks the marker segments of a file image in file order.
//
// Between segments a marker must stand (0xFF fill bytes may precede it).
// After SOS the entropy-coded data is searched for the next marker: stuffed
// 0xFF00 pairs and fill bytes are passed over, RSTn markers are reported as
// they come.  The walk ends at EOI, or at damage, which is kept as a
// misc_error value that says what is wrong and where.
//
// The walk keeps only its position, so its memory does not depend on the
// number of markers; restart() begins it again.  It reads the image only
// where it looks, through readers: a segment's length is checked against
// the size of the file without loading the segment's bytes, and
// entropy-coded data is loaded and searched a window of up to 1 MiB at a
// time.
#ifndef ORVANE_OSMER_MARKERSCANNER_H
#define ORVANE_OSMER_MARKERSCANNER_H

#include <cstddef>
#include <optional>

#include "exceptions.h"
#include "fileImage.h"
#include "jfif_marker.h"
#include "orvaneExport.h"

class markerScanner {
 public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  explicit markerScanner(fileImage& image) : sc_image(image) {}

  // Sets m to the next marker and returns true, or returns false when the
  // walk is over (after EOI or on damage).
  bool next(jfif_marker& m);
  // Starts the walk again at the first byte.
  void restart() { sc_at = place(); }
  // Has the image let go of the entropy-coded data the walk has passed, a
  // window or a restart interval at a time (the pages of the RSTn markers
  // it handed out with them): for a file too large to hold, whose
  // segments are all that is kept of it.
  void letImageDataGo() { sc_letDataGo = true; }

  // Where the walk is, and what ended it if it is over: a bookmark to
  // resume() the walk from.
  struct place {
    size_t pos = 0;
    size_t scanStart = 0;  // offset of the SOS whose data is being scanned
    size_t passedFrom = 0;  // of its data, the walk has not let go before here
    bool inScan = false;
    bool done = false;
    std::optional<misc_error> damage;
  };
  const place& at() const { return sc_at; }
  void resume(const place& p) { sc_at = p; }

  // The damage that ended the walk, if any.
  const std::optional<misc_error>& damage() const { return sc_at.damage; }

  // Position of the first 0xFF in the size bytes at data, at or after from,
  // that may begin a marker in entropy-coded data, or npos: a 0xFF followed
  // by any byte but 0x00 (a stuffed data byte), or the last byte, whose
  // follower is not known yet.
  ORVANE_EXPORT static size_t findMarkerStart(const unsigned char* data, size_t size, size_t from);

 private:
  bool segmentAt(jfif_marker& m);
  bool scanEntropyData(jfif_marker& m);
  bool fail(misc_error damage);

  fileImage& sc_image;
  place sc_at;
  bool sc_letDataGo = false;
};

#endif
