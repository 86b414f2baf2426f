// Test support: writes the containers other than JPEG that carry an EXIF
// block (ISO base media boxes for HEIF, PNG chunks, WebP's RIFF chunks),
// whole files or box by box, so that tests can build exactly the bytes they
// mean, damaged ones included.
#ifndef ORVANE_TESTS_CONTAINERWRITER_H
#define ORVANE_TESTS_CONTAINERWRITER_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "jpegWriter.h"

namespace testjpeg {

bytes be16(uint16_t v);
bytes be32(uint32_t v);
bytes be64(uint64_t v);
bytes le32(uint32_t v);
bytes join(std::initializer_list<bytes> parts);
void saveBytes(const std::string& path, const bytes& b);

// ISO base media boxes: a box with its 32-bit size, and a full box
// (version, flags 0).
bytes isoBox(const std::string& type, const bytes& payload);
bytes isoFullBox(const std::string& type, uint8_t version, const bytes& payload);
bytes ftypHeic();
// An infe box of version 2 or 3.
bytes infe(uint8_t version, uint32_t id, const std::string& type);

// A HEIF file whose item of type Exif holds the 32-bit offset 6, "Exif\0\0"
// and the block.
struct heifLayout {
  uint8_t infeVersion = 2;
  uint8_t ilocVersion = 1;
  bool inIdat = false;         // construction method 1: the item lies in meta's idat
  unsigned extents = 1;        // the item's data in this many extents, stored in reverse order
  size_t imageBytes = 100;     // image data in mdat before the item's (or all of mdat with idat)
  bool mdatFirst = false;      // mdat before meta
  bool largeMdat = false;      // mdat's size in the 64-bit field
};
bytes heifFile(const bytes& tiff, const heifLayout& layout = {});

// PNG: the signature, and a chunk with its CRC (of type and data).
bytes pngSignature();
// The CRC-32 of PNG and zlib over the bytes of b from `from` on.
uint32_t crc32(const bytes& b, size_t from = 0);
bytes pngChunk(const std::string& type, const bytes& data);
// IHDR, an eXIf chunk before or after the IDAT, IEND.
bytes pngFile(const bytes& tiff, bool exifAfterImage = false);

// WebP: a RIFF chunk (padded to an even length) and a whole file.
bytes riffChunk(const std::string& type, const bytes& data);
bytes webpFile(const std::vector<bytes>& chunks);
// VP8X, a VP8 chunk of image data and an EXIF chunk.
bytes webpWithExif(const bytes& tiff);

}  // namespace testjpeg

#endif
