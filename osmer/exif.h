// exif: the parsed EXIF block of one photograph.
//
// The TIFF header (either byte order) is checked on construction; populate()
// reads IFD0, the Exif, GPS and Interoperability directories, IFD1 and an
// Exif IFD that IFD1 points to (TIFF files may keep it there), and builds a populated field for every entry whose value lies in the block.
// Damage inside a directory costs only what it touches: an entry whose value
// lies outside the block is skipped, a table that runs past the block ends
// its directory, and a directory reached twice is read once.
#ifndef ORVANE_OSMER_EXIF_H
#define ORVANE_OSMER_EXIF_H

#include <cstdint>

#include "exifHeader.h"
#include "fieldArena.h"
#include "ifd.h"
#include "mstream.h"
#include "orvaneExport.h"
#include "tiff.h"

class ORVANE_EXPORT exif {
 public:
  // Throws misc_error when the file could not be opened, has no EXIF block,
  // or its block does not start with a TIFF header, and when the program
  // lacks the field kinds of a library it should have loaded.
  explicit exif(exifHeader& header);
  ~exif();
  exif(const exif&) = delete;
  exif& operator=(const exif&) = delete;

  void populate();

  // The first field with the tag, in directory order IFD0, Exif, GPS,
  // Interop, IFD1, IFD1's Exif; in a TIFF file, IFD0's Exif IFD first.
  // Sets where to its directory.  Null when there is none.
  const field* find(unsigned short tag, const ifd*& where) const;

  // The directories read, in the order find searches them.
  pointerList<ifd> directories() const { return pointerList<ifd>(et_dirs, et_dirCount); }

  // Values stored apart from their entries are read up to this many times
  // the size of the block in all; entries beyond that are skipped.  A block
  // larger than largestBudgetedBlock counts as that large: a TIFF file is
  // its own block, and a sparse file declares gigabytes that cost its
  // writer nothing, while its values' copies would cost memory.
  static constexpr unsigned valueBudgetBlocks = 4;
  static constexpr uint64_t largestBudgetedBlock = 64 * 1024 * 1024;

  // Tags whose value points at another directory.
  static constexpr unsigned short exifPointer = tiff::exifPointer;
  static constexpr unsigned short gpsPointer = tiff::gpsPointer;
  static constexpr unsigned short interopPointer = tiff::interopPointer;

  // IFD0, Exif, GPS, Interop, IFD1, IFD1's Exif: each is read at most once.
  static constexpr unsigned maxDirectories = 6;

 private:
  [[noreturn]] ORVANE_LOCAL void damaged(const char* what, uint64_t at) const;
  [[noreturn]] ORVANE_LOCAL static void missingLibrary(const char* library);
  ORVANE_LOCAL ifd* readDirectory(ifd::kind_t kind, uint32_t offset, uint32_t* next);
  ORVANE_LOCAL bool visited(uint32_t offset) const;

  exifHeader& et_header;
  mstream et_stream;
  uint32_t et_ifd0 = 0;
  const ifd* et_exifOfIfd0 = nullptr;
  bool et_populated = false;
  uint64_t et_valueBudget = 0;  // bytes of separately stored values still to read
  fieldArena et_arena;  // the directories and fields, destroyed by ~exif
  ifd* et_dirs[maxDirectories] = {};
  unsigned et_dirCount = 0;
};

#endif
