// The container formats of exifLocator, one file each, and what they share:
// how a span of the file is read and how damage is worded.
#ifndef ORVANE_OSMER_CONTAINERFORMATS_H
#define ORVANE_OSMER_CONTAINERFORMATS_H

#include <cstdint>
#include <string>

#include "byteReader.h"
#include "chunkWalker.h"
#include "damageText.h"
#include "exceptions.h"
#include "exifLocator.h"
#include "fileImage.h"

namespace containers {

// Each format: true when the first bytes of the file (up to 16, fewer in a
// shorter file) are its signature, and its locate function.
#define ORVANE_FORMAT(name, stem, file)    \
  bool is##stem(const byteReader& head); \
  exifLocation locateIn##stem(fileImage& image);
#include "formats.def"
#undef ORVANE_FORMAT

using damageText::atOffset;

// The location of a file that offers no block, for the reasons below: the
// report line's texts " is truncated: WHAT" and " has a damaged CONTAINER:
// WHAT" (damageText.h), or the damage a walk met.
exifLocation truncated(exifFormat format, const std::string& what);
exifLocation damaged(exifFormat format, const char* container, const std::string& what);
exifLocation failed(exifFormat format, misc_error damage);
// A recognised file without EXIF data.
exifLocation noExif(exifFormat format);
// A block of one span.
exifLocation foundAt(exifFormat format, uint64_t offset, uint64_t length);
// The block of a chunk's data (PNG's eXIf, WebP's EXIF): the size bytes at
// data, less EXIF's APP1 identifier where a writer put one before the TIFF
// header.
exifLocation foundInChunk(exifFormat format, const byteReader& file, uint64_t data, uint64_t size);

// The kinds of ISO base media file, which isoMedia.cc tells apart by their
// boxes: the Exif item of a HEIF file's top-level meta box (isoBoxes.cc),
// the EXIF structure in a CR3 file's moov box (cr3File.cc), the time a
// movie's moov box records (movieFile.cc).  top: the walk of the file's
// top level that found moov.
exifLocation locateHeifItem(fileImage& image);
exifLocation locateInCr3(const chunkWalker& top, const chunk& moov);
exifLocation locateInMovie(const chunkWalker& top, const chunk& moov);

// PNG: where the chunks after the image data begin, found from the end of
// the file without reading the image data (pngTail.cc).  False when they
// cannot be found that way.
bool chunksAfterImageData(const byteReader& file, uint64_t firstImageData, uint64_t& after);

}  // namespace containers

#endif
