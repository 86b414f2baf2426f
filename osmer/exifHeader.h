// exifHeader: finds the EXIF APP1 segment ("Exif" and two NUL bytes) among
// the segments before the first SOS, reading only as far as it, and keeps
// the damage it met on the way.  Its walk is its own: building a header at
// any time leaves the file's marker list where it was.
#ifndef ORVANE_OSMER_EXIFHEADER_H
#define ORVANE_OSMER_EXIFHEADER_H

#include <cstddef>
#include <optional>

#include "byteReader.h"
#include "jfif.h"
#include "orvaneExport.h"

class ORVANE_EXPORT exifHeader {
 public:
  explicit exifHeader(jfif& file);
  bool wellFormed() const { return j_found; }

  jfif& file() const { return j_file; }
  // The TIFF data that follows the identifier (empty when none was found),
  // and its position in the file.
  byteReader block() const { return j_block; }
  size_t blockOffset() const { return j_blockOffset; }
  // Damage met before the EXIF segment in a file that starts with a marker:
  // why a JPEG file has no EXIF block to offer.
  const std::optional<misc_error>& damage() const { return j_damage; }

 private:
  jfif& j_file;
  bool j_found = false;
  byteReader j_block;
  size_t j_blockOffset = 0;
  std::optional<misc_error> j_damage;
};

#endif
