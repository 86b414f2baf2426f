// mstream: the reader over one EXIF block that field kinds fetch values with.
//
// Seeking records a position; read() copies what lies inside the block and
// fills the rest of the destination with zero bytes, so no caller ever sees
// an uninitialised byte, whatever the position says.
#ifndef ORVANE_OSMER_MSTREAM_H
#define ORVANE_OSMER_MSTREAM_H

#include <cstdint>

#include "byteReader.h"
#include "orvaneExport.h"
#include "entry.h"

class ORVANE_EXPORT mstream {
 public:
  mstream() = default;
  explicit mstream(const byteReader& block) : ms_block(block) {}

  // Seeks to a block position (a position past the end makes reads fail).
  mstream& operator=(unsigned long pos) {
    ms_pos = pos;
    return *this;
  }
  unsigned long tell() const { return ms_pos; }

  // Seeks to where the entry's value is stored: in the entry's own 4-byte
  // value field when it fits there, else at the offset that field holds.
  // True when all of the value lies inside the block (the one place that
  // decides it: the parser skips entries for which it is false).
  bool seekValue(const entry& e) {
    const uint64_t bytes = uint64_t(e.count()) * tiffUnitSize(e.type());
    const uint32_t at = bytes > 4 ? e.offset() : e.offsetOffset();
    ms_pos = at;
    return ms_block.has(at, bytes);
  }
  unsigned long size() const { return ms_block.size(); }
  bool bigEndian() const { return ms_block.bigEndian(); }

  // Copies n bytes from the position into dst and moves past them; returns
  // how many came from the block (the others are zero).
  unsigned long read(void* dst, unsigned long n);

  // A view of the n bytes at the position, which then moves past them.
  bool view(unsigned long n, const unsigned char*& p) {
    if (!ms_block.viewAt(ms_pos, n, p)) return false;
    ms_pos += n;
    return true;
  }

  // The block itself, in the block's byte order.
  const byteReader& block() const { return ms_block; }

 private:
  byteReader ms_block;
  unsigned long ms_pos = 0;
};

#endif
