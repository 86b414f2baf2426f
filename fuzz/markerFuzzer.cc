// Fuzz target: the marker scan and walk of a whole file image, as the
// marker tools do it, with the EXIF header search on the same file.
//
// Besides the sanitizers' own checks, every listed marker must lie inside
// the image, in file order, and its bytes are all read so that a marker
// pointing outside the buffer is caught at once.
#include <cstddef>
#include <cstdint>

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
  const unsigned char* base = file.image().data();
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
      FUZZ_CHECK(m.data() == base + m.offset());
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static memFile input;
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
      if (block.size()) FUZZ_CHECK(p == file.image().data() + e1.blockOffset());
      volatile unsigned sink = touch(p, block.size());
      (void)sink;
    }
    // The tools list only JPEG or EXIF files, but the library must survive
    // being asked for the list of anything.
    file.buildMarkerList(0);
    walk(file, jfif_marker::jm_nada);
    walk(file, jfif_marker::jm_com);
    walk(file, jfif_marker::jm_app2);
  } catch (const misc_error&) {
  }
  return 0;
}
