// Fuzz target: the marker scan and walk of a whole file image, as the
// marker tools do it, with the EXIF header search on the same file.
//
// Photographs are megabytes, and the image is read in pages and in steps
// that grow to 1 MiB, which small inputs never cross.  An input that ends
// in a stretch record (see stretched) is first grown to up to 512 KiB by
// repeating a few of its bytes, so that short inputs make long files
// (a quarter million restart markers, fill bytes, a long scan); long inputs
// (-max_len of a few MB) work too.  Over 128 KiB only the walk over all
// markers is run: under the sanitizers and coverage each marker costs
// about a microsecond, and a file of 256 K of them must stay
// well within the smoke run's time limit on a busy machine.
//
// Besides the sanitizers' own checks, every listed marker must lie inside
// the image, in file order, and its bytes are all read so that a marker
// pointing outside the buffer is caught at once.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "exceptions.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegHeader.h"
#include "memFile.h"

namespace {

// Reads every byte of the span through the bounds-checked reader.
unsigned touch(const unsigned char* p, uint64_t n) {
  byteReader r(p, static_cast<size_t>(n));
  unsigned sum = 0;
  uint8_t b;
  for (uint64_t i = 0; r.u8At(i, b); ++i) sum += b;
  return sum;
}

bool knownType(int t) { return t == 1 || (t >= 0xC0 && t <= 0xFE); }

// One walk over the list, as the tools do it: markers of one type (or all).
void walk(jfif& file, jfif_marker::type_t type) {
  const byteReader image = file.image().reader();
  file.rewind();
  off_t last = -1;
  try {
    jfif_marker m;
    while ((m = file.nextMarker(type)) != jfif_marker::null) {
      FUZZ_CHECK(type == jfif_marker::jm_nada || m.type() == type);
      FUZZ_CHECK(knownType(m.type()));
      FUZZ_CHECK(m.len() >= 2);
      FUZZ_CHECK(m.offset() > last);
      FUZZ_CHECK(static_cast<uint64_t>(m.offset()) + m.len() <= file.image().size());
      // The marker points at its own bytes in the image.
      const unsigned char* at = nullptr;
      FUZZ_CHECK(image.viewAt(static_cast<uint64_t>(m.offset()), m.len(), at) && m.data() == at);
      FUZZ_CHECK(jfif_marker::name(m.type()) != nullptr);
      last = m.offset();
      volatile unsigned sink = touch(m.data(), m.len());
      (void)sink;
    }
    // The end of the list stays the end.
    FUZZ_CHECK(file.nextMarker(jfif_marker::jm_nada) == jfif_marker::null);
  } catch (const misc_error& e) {
    FUZZ_CHECK(e.msg1() != nullptr && e.msg2() != nullptr);
  }
}

// The stretch record: the last 8 bytes "STR", the length of a unit (1-4),
// a repeat count (2 bytes, times 64) and a position (2 bytes, taken modulo
// the rest's size).  The unit is the bytes at the position; its copies go
// in at the position.  Without a record the input is taken as it is.
bool stretched(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  constexpr size_t record = 8, largest = 512u << 10;
  if (size <= record || std::memcmp(data + size - record, "STR", 3) != 0) return false;
  const uint8_t* r = data + size - record;
  const size_t body = size - record;
  const size_t unit = 1 + r[3] % 4;
  const size_t at = (size_t(r[6]) | size_t(r[7]) << 8) % body;
  if (at + unit > body) return false;
  size_t copies = (size_t(r[4]) | size_t(r[5]) << 8) * 64;
  if (copies > (largest - body) / unit) copies = (largest - body) / unit;
  out.assign(data, data + at);
  for (size_t i = 0; i < copies; ++i) out.insert(out.end(), data + at, data + at + unit);
  out.insert(out.end(), data + at, data + body);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static memFile input;
  static std::vector<uint8_t> grown;
  if (stretched(data, size, grown)) {
    data = grown.data();
    size = grown.size();
  }
  input.set(data, size);
  try {
    jfif file(input.path());
    FUZZ_CHECK(file.err() == 0);
    jpegHeader j1(file);
    exifHeader e1(file);
    if (e1.wellFormed()) {
      // The EXIF block lies inside the image, at the offset it claims.
      byteReader block = e1.block();
      const unsigned char* p = nullptr;
      FUZZ_CHECK(block.viewAt(0, block.size(), p));
      FUZZ_CHECK(e1.blockOffset() + block.size() <= file.image().size());
      const unsigned char* at = nullptr;
      FUZZ_CHECK(file.image().reader().viewAt(e1.blockOffset(), block.size(), at));
      if (block.size()) FUZZ_CHECK(p == at);
      volatile unsigned sink = touch(p, block.size());
      (void)sink;
    }
    // The tools list only JPEG or EXIF files, but the library must survive
    // being asked for the list of anything.
    file.buildMarkerList(0);
    walk(file, jfif_marker::jm_nada);
    if (size <= (128u << 10)) {
      walk(file, jfif_marker::jm_com);
      walk(file, jfif_marker::jm_app2);
    }
  } catch (const misc_error&) {
  }
  return 0;
}
