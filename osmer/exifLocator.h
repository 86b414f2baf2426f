// exifLocator: finds the EXIF block of a photograph that is not a JPEG file,
// or the capture time that a file records outside EXIF data.
//
// The container is told by the file's first bytes, never by its name:
//   - ISO base media files (isoMedia.cc): HEIC/HEIF, AVIF, ...: the item of
//     type Exif of the top-level meta box (isoBoxes.cc); without one, a
//     Canon CR3 file (cr3File.cc) or a movie (movieFile.cc) by their moov box,
//   - Canon CRW: the TimeStamp record of its heap (crwFile.cc),
//   - Fujifilm RAF: the EXIF segment of its embedded JPEG (rafFile.cc),
//   - Minolta MRW: its TTW block (mrwFile.cc),
//   - TIFF and the TIFF-based raw formats: the whole file (tiffFile.cc),
//   - PNG: the eXIf chunk (pngFile.cc),
//   - WebP: the EXIF chunk of an extended RIFF file (webpFile.cc).
// Each format is one file with a test of the first bytes and a locate
// function, and one line of the table in formats.def.  A JPEG file is not
// looked at here: exifHeader reads JPEG files by their marker walk.
//
// Only box, chunk and directory headers are read, through readers over the
// file image, which load the pages they touch; the image data never is.
// Every size, offset and count the file gives is checked before use.
#ifndef ORVANE_OSMER_EXIFLOCATOR_H
#define ORVANE_OSMER_EXIFLOCATOR_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "exceptions.h"
#include "fileImage.h"
#include "orvaneExport.h"
#include "tiff.h"

// The containers the locator reads.  unknown: the first bytes are none of
// them (the caller decides what such a file is).
enum class exifFormat {
  unknown,
#define ORVANE_FORMAT(name, stem, file) name,
#include "formats.def"
#undef ORVANE_FORMAT
  // The kinds of ISO base media file that the heif line tells apart by
  // their boxes: a Canon CR3 file, and a movie.
  cr3,
  movie,
};

// A span of the file's bytes.
struct filePiece {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// A capture time that a container records itself, outside any EXIF block,
// as the file holds it: the reader of the time checks and converts it.
struct recordedTime {
  enum kind_t {
    none,
    creationDate,  // a movie's Keys value com.apple.quicktime.creationdate (text)
    movieHeader,   // the movie header's creation time: seconds since 1904-01-01 UTC
    timeStamp,     // CRW's TimeStamp: seconds since 1970 of the camera's wall clock
  };
  kind_t kind = none;
  std::string text;      // creationDate: the value's bytes
  uint64_t seconds = 0;  // movieHeader, timeStamp
};

struct exifLocation {
  exifFormat format = exifFormat::unknown;
  // The EXIF block's bytes (the TIFF header first), as spans of the file in
  // block order: one span almost always; an item of the ISO formats may be
  // stored in several, which the caller joins.  Empty when there is none.
  std::vector<filePiece> pieces;
  // The magic number after the byte-order mark: 42, or a raw format's own.
  uint16_t tiffMagic = tiff::magic;
  // Why a recognised file offers no block, when it is damaged; no block and
  // no damage means the file carries no EXIF data.
  std::optional<misc_error> damage;
  // Movies and CRW files: the time the container records (none when it
  // records none); they have no EXIF block.
  recordedTime time;

  bool found() const { return !pieces.empty(); }
};

// Finds the EXIF block of a file in one of the formats above.  Throws only
// what reading the image throws (an I/O error).
ORVANE_EXPORT exifLocation locateExif(fileImage& image);

#endif
