// ISO base media files (ISO/IEC 14496-12) and QuickTime movies, told apart
// by their boxes, never by their brand:
//   - a top-level meta box with an item of type Exif: an image (HEIC, AVIF,
//     and image sequences too), read as isoBoxes.cc reads it;
//   - else with a moov box: a Canon CR3 file when the major brand is "crx "
//     (its moov box holds Canon's TIFF structures), else a movie;
//   - else what the meta box said (no EXIF data, or its damage), or the
//     walk's damage, or no EXIF data.
// The file starts with ftyp or, in old QuickTime files that have none, with
// moov, mdat, wide, free or skip.
//
// The top level is walked by box headers alone: mdat is passed by its size
// (32-bit, 64-bit, or 0: to the end of the file) wherever moov lies, also
// after a media data box of gigabytes.  Damage met after moov does not stop
// a movie from being read; before it, it is the file's report.
#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint32_t ftyp = fourcc("ftyp"), meta = fourcc("meta"), moov = fourcc("moov");
constexpr uint32_t canonRaw = fourcc("crx ");
const uint32_t firstBoxes[] = {ftyp, moov, fourcc("mdat"), fourcc("wide"), fourcc("free"), fourcc("skip")};

}  // namespace

bool isIsoBmff(const byteReader& head) {
  cursor c(head);
  const uint32_t size = c.u32be(), type = c.fourcc();
  if (!c || (size > 1 && size < 8)) return false;
  for (uint32_t first : firstBoxes)
    if (type == first) return true;
  return false;
}

exifLocation locateInIsoBmff(fileImage& image) {
  const exifFormat heif = exifFormat::heif;
  chunkWalker top(image.reader(), chunkFamily::isoBmff, "HEIF container");
  uint32_t brand = 0;
  std::optional<exifLocation> image0;  // what the first meta box offers
  chunk movie;
  for (const chunk& c : top) {
    if (c.type == ftyp && c.start == 0) {
      brand = top.dataOf(c).fourcc();
    } else if (c.type == meta && !image0) {
      image0 = locateHeifItem(image);
      if (image0->found() || image0->damage) return *image0;
    } else if (c.type == moov && !movie) {
      movie = c;
    }
  }
  if (movie) return brand == canonRaw ? locateInCr3(top, movie) : locateInMovie(top, movie);
  if (image0) return *image0;
  if (top.damage()) return failed(heif, *top.damage());
  return noExif(heif);
}

}  // namespace containers
