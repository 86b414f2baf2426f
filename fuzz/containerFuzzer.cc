// Fuzz target: the EXIF locator of one container format (built once per
// format: ORVANE_FUZZ_FORMAT names it), as chronel uses it: a whole file
// opened by exifHeader(file, anyFormat) and asked for its capture time as
// chronel asks (fileCaptureTime: the EXIF block parsed, or the time that a
// movie or CRW file records).
//
// Inputs of other formats are passed over at once, so that the run stays on
// its format's parser.  Besides the sanitizers' own checks:
//   - a block lies inside the image, every block position maps to a file
//     position inside it, and all of the block's bytes are read;
//   - a damage report is one line of printable text;
//   - a recorded time's text costs no more than a date does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "exceptions.h"
#include "exifHeader.h"
#include "fileCaptureTime.h"
#include "jfif.h"
#include "memFile.h"
#include "util.h"

#ifndef ORVANE_FUZZ_FORMAT
#error "ORVANE_FUZZ_FORMAT names the container: heif, tiff, png, webp, movie, cr3, raf, mrw or crw"
#endif

namespace {

volatile unsigned sink;

unsigned touch(const byteReader& r) {
  unsigned sum = 0;
  uint8_t b;
  for (uint64_t i = 0; r.u8At(i, b); ++i) sum += b;
  return sum;
}

bool oneLine(const char* text) {
  for (const char* p = text; *p; ++p)
    if (*p < 0x20 || *p > 0x7E) return false;
  return true;
}

void checkReport(const misc_error& e) { FUZZ_CHECK(oneLine(e.msg1()) && oneLine(e.msg2())); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC0", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static memFile input;
  input.set(data, size);
  try {
    jfif file(input.path());
    FUZZ_CHECK(file.err() == 0);
    exifHeader header(file, exifHeader::anyFormat);
    if (header.format() != exifFormat::ORVANE_FUZZ_FORMAT) return 0;
    if (header.wellFormed()) {
      FUZZ_CHECK(!header.damage());
      const byteReader block = header.block();
      const size_t imageSize = file.image().size();
      if (block.loadsOnDemand()) FUZZ_CHECK(header.blockOffset() + block.size() <= imageSize);
      for (uint64_t pos = 0; pos < block.size(); pos += 97) FUZZ_CHECK(header.fileOffset(pos) < imageSize);
      if (block.size()) FUZZ_CHECK(header.fileOffset(block.size() - 1) < imageSize);
      sink += touch(block);
    } else if (header.damage()) {
      checkReport(*header.damage());
    }
    FUZZ_CHECK(header.recorded().text.size() <= 64);
    sink += static_cast<unsigned>(fileCaptureTime(header, captureZone::camera).instant);
  } catch (const misc_error& e) {
    checkReport(e);
  }
  return 0;
}
