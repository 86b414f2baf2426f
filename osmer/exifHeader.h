// exifHeader: finds the EXIF APP1 segment ("Exif" and two NUL bytes) among
// the segments before the first SOS, reading only as far as it, and keeps
// the damage it met on the way.  Its walk is its own: building a header at
// any time leaves the file's marker list where it was.
//
// Built with anyFormat (chronel), it reads the other containers that carry
// EXIF data too (exifLocator.h): a file that begins with a JPEG SOI, or with
// none of those containers' signatures, is read exactly as above.
#ifndef ORVANE_OSMER_EXIFHEADER_H
#define ORVANE_OSMER_EXIFHEADER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "byteReader.h"
#include "exifLocator.h"
#include "jfif.h"
#include "orvaneExport.h"
#include "tiff.h"

class ORVANE_EXPORT exifHeader {
 public:
  struct anyFormat_t {};
  static constexpr anyFormat_t anyFormat{};

  explicit exifHeader(jfif& file);
  exifHeader(jfif& file, anyFormat_t);
  exifHeader(const exifHeader&) = delete;
  exifHeader& operator=(const exifHeader&) = delete;
  bool wellFormed() const { return j_found; }

  jfif& file() const { return j_file; }
  // The TIFF data that follows the identifier (empty when none was found),
  // and its position in the file.
  byteReader block() const { return j_block; }
  size_t blockOffset() const { return j_blockOffset; }
  // The file position of a position in the block: blockOffset() + pos, but
  // for a block joined from several spans of the file, where pos lies.
  uint64_t fileOffset(uint64_t pos) const;
  // The magic number after the TIFF byte-order mark: 42, or a raw format's.
  uint16_t tiffMagic() const { return j_magic; }
  // Which container held the block (unknown: a JPEG file, or none found).
  exifFormat format() const { return j_format; }
  // Damage met before the EXIF segment in a file that starts with a marker:
  // why a JPEG file has no EXIF block to offer; or why a container of
  // another format has none.
  const std::optional<misc_error>& damage() const { return j_damage; }
  // The capture time a movie or CRW file records instead of EXIF data.
  const recordedTime& recorded() const { return j_recorded; }
  // True for the formats whose time is recorded() (movies, CRW).
  bool timeWithoutExif() const { return j_format == exifFormat::movie || j_format == exifFormat::crw; }

 private:
  ORVANE_LOCAL void findInJpeg();
  ORVANE_LOCAL void take(exifLocation& where);

  jfif& j_file;
  bool j_found = false;
  byteReader j_block;
  size_t j_blockOffset = 0;
  uint16_t j_magic = tiff::magic;
  exifFormat j_format = exifFormat::unknown;
  std::optional<misc_error> j_damage;
  recordedTime j_recorded;
  std::vector<filePiece> j_pieces;  // the spans of a joined block
  std::vector<unsigned char> j_joined;
};

#endif
