// Fuzz target: exif_time on arbitrary DateTimeOriginal texts.
//
// The first input byte picks the local time zone (UTC, or one of a few
// zones with daylight-saving rules, one of them with a half-hour shift);
// the rest is the tag's stored value, written as an ASCII entry of exactly
// that many bytes (so with or without a NUL, with NULs inside, empty).
// The tag lands in the Exif directory of a small, valid photograph.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "memFile.h"
#include "util.h"

namespace {

const char* const zones[] = {
    "UTC0",
    "CET-1CEST,M3.5.0,M10.5.0/3",          // central Europe
    "EST5EDT,M3.2.0,M11.1.0",              // eastern North America
    "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0",  // half-hour summer shift
};

void useZone(unsigned i) {
  static int current = -1;
  if (current == static_cast<int>(i)) return;
  current = static_cast<int>(i);
  setenv("TZ", zones[i], 1);
  tzset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  useZone(data[0] % (sizeof zones / sizeof zones[0]));
  const testjpeg::bytes text(data + 1, data + size);
  if (text.size() > 60000) return 0;  // an APP1 segment holds no more

  using namespace testjpeg;
  tiffWriter tiff(data[0] & 0x80);
  tiff.add(dir::exif, 0x9003, 2, static_cast<uint32_t>(text.size()), text);
  const bytes file = jpegWriter().photo(tiff.build()).data();

  static memFile input;
  input.set(file.data(), file.size());
  jfif jfif_file(input.path());
  exifHeader e1(jfif_file);
  exif set(e1);
  set.populate();
  try {
    const time_t t = exif_time("input.jpg", &set);
    // A time that was accepted must be one the system can show again.
    struct tm back;
    FUZZ_CHECK(localtime_r(&t, &back) != nullptr);
    FUZZ_CHECK(back.tm_year + 1900 >= 1 && back.tm_year + 1900 <= 9999);
  } catch (const misc_error& e) {
    FUZZ_CHECK(e.msg1() != nullptr && e.msg2() != nullptr);
  }
  return 0;
}
