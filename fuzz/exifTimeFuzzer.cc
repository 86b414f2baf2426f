// Fuzz target: readCaptureTime and readSubSeconds on arbitrary date,
// offset, sub-second and GPS values.
//
// The first input byte picks the local time zone (bits 0-1: UTC, or one of
// a few zones with daylight-saving rules, one of them with a half-hour
// shift), the block's byte order (bit 7), the camera's offset (bit 2, -z),
// the fallback tags (bit 3, -f), the tag the date is stored in (bits 4-5:
// DateTimeOriginal, DateTimeDigitized, DateTime, DateTimeOriginal) and
// the type of GPSTimeStamp (bit 6: SRATIONAL, else RATIONAL).  The rest is
// split at each 0xFF byte into the stored values of the date tag, its
// offset tag, its SubSecTime tag and GPSDateStamp (ASCII entries of exactly
// that many bytes: with or without a NUL, with NULs inside, empty), and
// GPSTimeStamp's bytes (as many whole 8-byte values as there are); a part
// that is not there is no entry.  An input without 0xFF is a date text
// alone, as this target's first corpus was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <vector>

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

struct dateTags {
  uint16_t date, offset, subSec;
  testjpeg::dir where;
};

const dateTags tagsOf[4] = {
    {0x9003, 0x9011, 0x9291, testjpeg::dir::exif},
    {0x9004, 0x9012, 0x9292, testjpeg::dir::exif},
    {0x0132, 0x9010, 0x9290, testjpeg::dir::ifd0},
    {0x9003, 0x9011, 0x9291, testjpeg::dir::exif},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (size > 60000) return 0;  // an APP1 segment holds no more
  const uint8_t flags = data[0];
  useZone(flags % (sizeof zones / sizeof zones[0]));
  const captureZone zone = flags & 0x04 ? captureZone::camera : captureZone::local;
  const captureTags fallback = flags & 0x08 ? captureTags::fallback : captureTags::original;
  const dateTags& tags = tagsOf[(flags >> 4) & 3];

  using namespace testjpeg;
  std::vector<bytes> parts(1);
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0xFF)
      parts.emplace_back();
    else
      parts.back().push_back(data[i]);
  }
  tiffWriter tiff(flags & 0x80);
  const auto ascii = [&](size_t part, dir d, uint16_t tag) {
    if (part < parts.size()) tiff.add(d, tag, 2, static_cast<uint32_t>(parts[part].size()), parts[part]);
  };
  ascii(0, tags.where, tags.date);
  ascii(1, dir::exif, tags.offset);
  ascii(2, dir::exif, tags.subSec);
  ascii(3, dir::gps, 0x001D);
  if (parts.size() > 4) {
    bytes time = parts[4];
    time.resize(time.size() / 8 * 8);
    tiff.add(dir::gps, 0x0007, flags & 0x40 ? 10 : 5, static_cast<uint32_t>(time.size() / 8), time);
  }
  const bytes file = jpegWriter().photo(tiff.build()).data();

  static memFile input;
  input.set(file.data(), file.size());
  jfif jfif_file(input.path());
  exifHeader e1(jfif_file);
  exif set(e1);
  set.populate();
  try {
    captureTime t = readCaptureTime(&set, zone, fallback);
    readSubSeconds(&set, t);
    // A time that was accepted must be one the system can show again, and
    // its parts must be what the outputs can write.
    struct tm back;
    FUZZ_CHECK(localtime_r(&t.instant, &back) != nullptr);
    FUZZ_CHECK(back.tm_year + 1900 >= 1 && back.tm_year + 1900 <= 9999);
    FUZZ_CHECK(t.wall.tm_year + 1900 >= 1 && t.wall.tm_year + 1900 <= 9999);
    FUZZ_CHECK(t.nanoseconds >= 0 && t.nanoseconds < 1000000000);
    FUZZ_CHECK(t.offset > -86400 && t.offset < 86400);
    FUZZ_CHECK(t.source != nullptr && t.zone != nullptr);
    struct tm wall = t.wall;
    FUZZ_CHECK(timegm(&wall) - t.offset == t.instant);
  } catch (const misc_error& e) {
    FUZZ_CHECK(e.msg1() != nullptr && e.msg2() != nullptr);
  }
  return 0;
}
