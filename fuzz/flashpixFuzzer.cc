// Fuzz target: sonlift's FlashPix reader over a run of APP2 segments.
//
// The input is a run of segments as they stand in a file: two marker bytes
// (not read), a big-endian length field, the payload.  A length field below
// 2 is taken as 2, and a segment that runs past the input's end is cut
// there.  Each segment is copied into a buffer of its own, so that a piece
// reaching past its segment is caught by AddressSanitizer at once.
//
// The reader is fed the segments one by one.  Then, for inputs up to 64
// KiB, the same segments are written as a file (SOI, the APP2 segments with
// true length fields, EOI) and read through the marker list with
// findFlashPixClip, which must give the same clip.
//
// A clip found must lie inside the segments, hold the bytes it counts (no
// more than its listed size) and begin with a RIFF WAVE header; every byte
// of it is read.  No clip means no pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "byteReader.h"
#include "flashpix.h"
#include "jfif.h"
#include "memFile.h"

namespace {

struct segment {
  std::unique_ptr<unsigned char[]> bytes;
  uint32_t len;
};

// Cuts the input into segments.
std::vector<segment> segments(const uint8_t* data, size_t size) {
  std::vector<segment> out;
  const byteReader r(data, size);
  uint64_t pos = 0;
  uint16_t field = 0;
  while (r.u16At(pos + 2, field)) {
    const uint64_t len = std::min<uint64_t>(field < 2 ? 4 : 2u + field, size - pos);
    segment s{std::make_unique<unsigned char[]>(len), static_cast<uint32_t>(len)};
    FUZZ_CHECK(r.copyAt(pos, s.bytes.get(), len));
    s.bytes[0] = 0xFF;
    s.bytes[1] = 0xE2;
    s.bytes[2] = static_cast<unsigned char>((len - 2) >> 8);
    s.bytes[3] = static_cast<unsigned char>(len - 2);
    out.push_back(std::move(s));
    pos += len;
  }
  return out;
}

// Checks a clip against the segments it was read from, reads all its bytes,
// and returns them.
std::vector<unsigned char> checked(const fpxClip& c, const std::vector<segment>* within) {
  std::vector<unsigned char> bytes;
  if (!c.found()) {
    FUZZ_CHECK(c.pieces.empty() && c.size == 0 && c.present == 0);
    return bytes;
  }
  FUZZ_CHECK(!c.pieces.empty() && c.present <= c.size && c.size <= 0xFFFFFFFFu - 28);
  for (const fpxPiece& p : c.pieces) {
    FUZZ_CHECK(p.size > 0);
    if (within) {
      bool inside = false;
      for (const segment& s : *within)
        inside = inside || (p.data >= s.bytes.get() + 17 && p.data + p.size <= s.bytes.get() + s.len);
      FUZZ_CHECK(inside);
    }
    const byteReader r(p.data, p.size);
    const unsigned char* view = nullptr;
    FUZZ_CHECK(r.viewAt(0, p.size, view));
    bytes.insert(bytes.end(), view, view + p.size);
  }
  FUZZ_CHECK(bytes.size() == c.present);
  FUZZ_CHECK(std::memcmp(bytes.data(), "RIFF", 4) == 0 && std::memcmp(bytes.data() + 8, "WAVE", 4) == 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<segment> segs = segments(data, size);
  flashpixReader reader;
  for (const segment& s : segs) {
    const jfif_marker m(jfif_marker::jm_app2, s.len, 0, s.bytes.get());
    reader.add(byteReader(m.payload(), m.payloadSize()));
  }
  const fpxClip direct = reader.finish();
  const std::vector<unsigned char> clip = checked(direct, &segs);
  if (size > (64u << 10)) return 0;

  static memFile input;
  std::vector<uint8_t> file = {0xFF, 0xD8};
  for (const segment& s : segs) file.insert(file.end(), s.bytes.get(), s.bytes.get() + s.len);
  file.push_back(0xFF);
  file.push_back(0xD9);
  input.set(file.data(), file.size());
  jfif photo(input.path());
  FUZZ_CHECK(photo.err() == 0);
  photo.buildMarkerList(0);
  const fpxClip walked = findFlashPixClip(photo);
  FUZZ_CHECK(!walked.damage);
  FUZZ_CHECK(walked.why == direct.why && walked.size == direct.size);
  FUZZ_CHECK(checked(walked, nullptr) == clip);
  return 0;
}
