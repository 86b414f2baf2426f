// PNG: the chunks after the image data, found from the end of the file.
//
// A PNG file ends with IEND (no data, a fixed CRC).  Before it stand the
// chunks that follow the image data (eXIf among them, where ImageMagick
// puts it), and before those the IDAT chunks, which may number hundreds:
// walking them costs a page each.  Instead a window at the end of the file
// (one page, growing to 64 KB) is searched for a chain of chunks with valid
// types, lengths and CRCs that ends exactly at IEND; the earliest position
// from which such a chain starts is taken, and when that chain holds an
// IDAT chunk (or starts at the first one) the chunks after its last IDAT are
// the ones after the image data.  A false chain would need a chunk whose
// length lands exactly on a real chunk's start and whose CRC matches: the
// search is as sure as the CRCs are.  No chain, or none that reaches back to
// an IDAT chunk within 64 KB, and the caller walks the file as before.
#include <vector>

#include "containerFormats.h"

namespace containers {

namespace {

constexpr uint32_t IDAT = fourcc("IDAT");
constexpr uint64_t page = byteSource::pageSize;
constexpr uint64_t largestWindow = 64 * 1024;
const unsigned char iend[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

struct crcTable {
  uint32_t entry[256];
  crcTable() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[n] = c;
    }
  }
};

// The CRC of the n bytes at pos.
uint32_t crcOf(const byteReader& r, uint64_t pos, uint64_t n) {
  static const crcTable table;
  const unsigned char* p = nullptr;
  if (!r.viewAt(pos, n, p)) return 0;
  uint32_t c = 0xFFFFFFFFu;
  for (uint64_t i = 0; i < n; ++i) c = table.entry[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return ~c;
}

bool isChunkType(uint32_t type) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    const uint8_t c = static_cast<uint8_t>(type >> shift);
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

// In the window [start, IEND's start]: the earliest position from which a
// valid chain of chunks ends exactly at IEND, or the window's end.
uint64_t earliestChain(const byteReader& file, uint64_t start, uint64_t iendAt) {
  byteReader w;
  file.sub(start, iendAt + sizeof iend - start, w);
  const uint64_t n = iendAt - start;
  std::vector<bool> good(n + 1);
  good[n] = true;
  uint64_t earliest = n;
  // A real tail checks each byte's CRC about once; a crafted one could make
  // every eighth byte the start of a candidate reaching the end, and cost a
  // CRC over the window for each.  Past this many bytes of CRCs the window
  // gives no chain, and the file is walked chunk by chunk instead.
  uint64_t crcBudget = 4 * n + 4096;
  for (uint64_t p = n >= 12 ? n - 12 + 1 : 0; p-- > 0;) {
    uint32_t length = 0, type = 0, crc = 0;
    w.u32At(p, length);
    if (length > n - p - 12 || !good[p + 12 + length]) continue;
    w.u32At(p + 4, type);
    w.u32At(p + 8 + length, crc);
    if (!isChunkType(type)) continue;
    if (4 + uint64_t(length) > crcBudget) return start + n;
    crcBudget -= 4 + uint64_t(length);
    if (crcOf(w, p + 4, 4 + uint64_t(length)) != crc) continue;
    good[p] = true;
    earliest = p;
  }
  return start + earliest;
}

}  // namespace

bool chunksAfterImageData(const byteReader& file, uint64_t firstImageData, uint64_t& after) {
  if (file.size() < firstImageData + sizeof iend) return false;
  const uint64_t iendAt = file.size() - sizeof iend;
  if (!file.startsWith(iendAt, iend, sizeof iend)) return false;
  // A page, then one more at a time up to four, then twice as many: the
  // usual tail (the last IDAT chunk of 8 KB, a few small chunks) takes
  // three pages or fewer.
  for (uint64_t pages = 1; pages * page <= largestWindow; pages = pages < 4 ? pages + 1 : pages * 2) {
    const uint64_t span = pages * page;
    const bool whole = iendAt - firstImageData <= span;
    const uint64_t start = whole ? firstImageData : (iendAt - span) / page * page;
    const uint64_t chain = earliestChain(file, start < firstImageData ? firstImageData : start, iendAt);
    // The chain's IDAT chunks end where the chunks after the image data begin.
    bool imageData = false;
    for (uint64_t at = chain; at < iendAt;) {
      uint32_t length = 0, type = 0;
      file.u32At(at, length);
      file.u32At(at + 4, type);
      at += 12 + uint64_t(length);
      if (type == IDAT) {
        imageData = true;
        after = at;
      }
    }
    if (imageData) return true;
    if (whole) return false;
  }
  return false;
}

}  // namespace containers
