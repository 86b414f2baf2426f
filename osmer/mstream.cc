#include "mstream.h"

#include <cstring>

unsigned long mstream::read(void* dst, unsigned long n) {
  unsigned long avail = 0;
  if (ms_pos < ms_block.size()) avail = ms_block.size() - ms_pos;
  unsigned long got = n < avail ? n : avail;
  if (got) ms_block.copyAt(ms_pos, dst, got);
  if (got < n) std::memset(static_cast<unsigned char*>(dst) + got, 0, n - got);
  ms_pos += got;
  return got;
}

bool mstream::view(unsigned long n, const unsigned char*& p) {
  if (!ms_block.viewAt(ms_pos, n, p)) return false;
  ms_pos += n;
  return true;
}
