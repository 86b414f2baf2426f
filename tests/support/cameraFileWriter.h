// Test support: writes the files that cameras and phones write whose
// capture time chronel reads from outside a photograph's EXIF segment:
// movies (QuickTime and ISO base media), Canon CR3 and CRW, Fujifilm RAF
// and Minolta MRW.  Each is the least that the format's layout asks for,
// built from the layout alone, so that tests control every byte; exiftool
// reads the same files in the tests as an independent check.
#ifndef ORVANE_TESTS_CAMERAFILEWRITER_H
#define ORVANE_TESTS_CAMERAFILEWRITER_H

#include <cstdint>
#include <string>

#include "containerWriter.h"

namespace testjpeg {

// Seconds from 1904-01-01 (the movie header's epoch) to 1970-01-01.
constexpr uint64_t movieEpochOffset = 2082844800;

// A movie: ftyp (unless brand is empty: old QuickTime files have none),
// moov and mdat in either order.  moov holds mvhd, a trak, and where
// keysDate is set a meta box (handler mdta) with the key
// com.apple.quicktime.creationdate and its value.
struct movieLayout {
  std::string brand = "qt  ";
  std::string keysDate;          // the Keys date's text; empty: none
  uint8_t mvhdVersion = 0;       // 0: 32-bit times, 1: 64-bit
  uint64_t created = 0;          // mvhd creation time, seconds since 1904
  bool moovFirst = true;         // moov before mdat (a "fast start" file)
  size_t mdatBytes = 100;
  bool largeMdat = false;        // mdat's size in the 64-bit field
  bool isoMeta = false;          // meta as a full box (version, flags), as ISO writes it
};
bytes movieFile(const movieLayout& layout);
// The parts of movieFile, for tests that assemble damaged ones.
bytes movieHeader(uint8_t version, uint64_t created);
bytes keysMeta(const std::string& key, const std::string& value, bool isoMeta = false);

// Canon CR3: ftyp of brand "crx ", moov holding Canon's uuid box with the
// four TIFF structures CMT1 (IFD0), CMT2 (the Exif IFD), CMT3 (maker
// notes) and CMT4 (GPS), and mdat.
bytes cr3File(const bytes& cmt1, const bytes& cmt2, const bytes& cmt3 = {}, const bytes& cmt4 = {});
// The uuid box alone, with whatever children are given.
bytes canonUuidBox(const bytes& children);
// A CMT2 structure: a TIFF header and one IFD whose entries are the Exif
// IFD's (DateTimeOriginal, and OffsetTimeOriginal when given).
bytes cmt2(const std::string& dateTimeOriginal, const std::string& offset = "", bool bigEndian = false);

// Fujifilm RAF: the header (magic, versions, camera), the embedded JPEG at
// the offset stored at 84, the raw data after it.
bytes rafFile(const bytes& jpeg);

// Minolta MRW: "\0MRM", the header blocks PRD, TTW (the TIFF structure),
// WBG and RIF, then the image data.
bytes mrwFile(const bytes& tiff);
// One header block: its name (the NUL first), big-endian length, data.
bytes mrwBlock(const std::string& name, const bytes& data);

// Canon CRW (CIFF): a heap whose ImageProps subheap (0x300a) holds the
// TimeStamp record (0x180e: seconds since 1970 of the camera's clock, a
// UTC offset, zone information).  Without a time, the record is left out.
struct crwLayout {
  bool bigEndian = false;
  bool hasTime = true;
  uint32_t time = 0;
  size_t imageBytes = 64;  // the raw data at the start of the heap
};
bytes crwFile(const crwLayout& layout);
// A heap: the data of its records, its record table and the table's offset.
struct ciffRecord {
  uint16_t tag;
  bytes data;  // a subheap's whole bytes for a heap record
};
bytes ciffHeap(const std::vector<ciffRecord>& records, bool bigEndian, size_t leading = 0);

}  // namespace testjpeg

#endif
