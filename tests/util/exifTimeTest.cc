// exif_time: the capture time of photographs made by the test writer, every
// way it can fail with its exact report line, and the time-zone cases, with
// the zone set explicitly by each test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "exif.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "runTool.h"
#include "textHandlerMap.h"
#include "util.h"

using namespace testjpeg;

namespace {

// Sets the process's time zone for one test and puts the old one back.
class zoneGuard {
 public:
  explicit zoneGuard(const char* zone) {
    const char* old = std::getenv("TZ");
    zg_had = old != nullptr;
    if (old) zg_old = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~zoneGuard() {
    if (zg_had)
      setenv("TZ", zg_old.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  zoneGuard(const zoneGuard&) = delete;
  zoneGuard& operator=(const zoneGuard&) = delete;

 private:
  bool zg_had = false;
  std::string zg_old;
};

struct parsedPhoto {
  explicit parsedPhoto(const std::string& path) : j(path.c_str()), h(j), e(h) { e.populate(); }
  jfif j;
  exifHeader h;
  exif e;
};

// What exif_time says: the time, or the report line for the file x.jpg.
struct verdict {
  bool ok = false;
  time_t time = 0;
  std::string report;
};

std::ostream& operator<<(std::ostream& os, const verdict& v) {
  return v.ok ? os << "time " << static_cast<long long>(v.time) : os << v.report;
}

class ExifTime : public ::testing::Test {
 protected:
  verdict of(const bytes& tiff) {
    const std::string path = tmp / "x.jpg";
    jpegWriter().photo(tiff).save(path);
    parsedPhoto p(path);
    verdict v;
    try {
      v.time = exif_time("x.jpg", &p.e);
      v.ok = true;
    } catch (const misc_error& e) {
      v.report = std::string("chronel:") + e.msg1() + " x.jpg" + e.msg2() + ".";
    }
    return v;
  }
  // A camera-like block whose DateTimeOriginal holds text.
  verdict ofDate(const std::string& text, bool withNul = true, bool big = false) {
    tiffWriter w(big);
    w.ascii(dir::ifd0, 0x010F, "Maker").ascii(dir::ifd0, 0x0132, "2001:01:01 01:01:01");
    w.ascii(dir::exif, 0x9003, text, withNul).ascii(dir::exif, 0x9004, "2002:02:02 02:02:02");
    return of(w.build());
  }
  // The time of a date that must be valid.
  long long timeOf(const std::string& text) {
    verdict v = ofDate(text);
    EXPECT_TRUE(v.ok) << text << ": " << v;
    return static_cast<long long>(v.time);
  }

  tempDir tmp;
};

const char* const noTag = "chronel: x.jpg does not contain DateTimeOriginal tag.";
const char* const noHandler = "chronel: unable to find handler for DateTimeOriginal tag x.jpg.";
const char* const noTokens = "chronel: unable to tokenize DateTimeOriginal tag in x.jpg.";
const char* const noParse = "chronel: unable to parse DateTimeOriginal tag in x.jpg.";
const char* const zeroDate = "chronel: x.jpg contains invalid zero date.";
const char* const badText = "chronel: invalid DateTimeOriginal tag in x.jpg.";
const char* const noUnixTime = "chronel: unable to make unix time in x.jpg.";

TEST_F(ExifTime, ValidDatesInUtc) {
  zoneGuard utc("UTC");
  const struct {
    const char* text;
    long long time;
  } rows[] = {
      {"2004:01:05 10:00:00", 1073296800},
      {"1970:01:01 00:00:00", 0},
      {"1970:01:01 00:00:01", 1},
      {"1969:12:31 23:59:59", -1},  // a real moment, not a failure
      {"1969:12:31 23:59:58", -2},
      {"2008:08:09 09:08:08", 1218272888},  // 08 and 09 are decimal
      {"2038:01:19 03:14:07", 2147483647},
      {"2038:01:19 03:14:08", 2147483648LL},  // no 2038 limit
      {"2040:02:29 12:00:00", 2214129600LL},
      {"1901:12:13 20:45:51", -2147483649LL},
      {"0001:01:01 00:00:00", -62135596800LL},
      {"9999:12:31 23:59:59", 253402300799LL},
  };
  for (const auto& r : rows) EXPECT_EQ(timeOf(r.text), r.time) << r.text;
}

TEST_F(ExifTime, OutOfRangeFieldsAreNormalised) {
  zoneGuard utc("UTC");
  const struct {
    const char* text;
    const char* same;
  } rows[] = {
      {"2004:13:01 00:00:00", "2005:01:01 00:00:00"},
      {"2004:01:05 24:00:00", "2004:01:06 00:00:00"},
      {"2004:02:30 00:00:00", "2004:03:01 00:00:00"},
      {"2004:01:05 10:00:60", "2004:01:05 10:01:00"},
      {"2004:01:00 00:00:00", "2003:12:31 00:00:00"},
      {"9999:12:31 -1:00:00", "9999:12:30 23:00:00"},  // a sign survives the comparison
      {"1970:01:01 00:00:-1", "1969:12:31 23:59:59"},
  };
  for (const auto& r : rows) EXPECT_EQ(timeOf(r.text), timeOf(r.same)) << r.text;
}

TEST_F(ExifTime, EveryFailureWithItsReportLine) {
  zoneGuard utc("UTC");
  const struct {
    const char* text;
    const char* report;
  } rows[] = {
      // Fewer than six tokens.
      {"", noTokens},
      {"   ", noTokens},
      {": : :: : :", noTokens},
      {"2004-01-05 10:00:00", noTokens},
      {"2004:01:05 10:00", noTokens},
      {"2004:01:05", noTokens},
      {"2004:0x:05 10:00", noTokens},  // tokenizing comes before parsing
      // A token that is not wholly a number (checked after all six).
      {"2004:01:05 10:00:0x", noParse},
      {"x004:01:05 10:00:00", noParse},
      {"2004:01:05 10:00:0x10", noParse},  // base 10, not 16
      {"2004:01:05 10:00:1.5", noParse},
      {"2004:01:05 10:00:00\t", noParse},
      {"2004:01:05 10:00:00x", noParse},
      {"0000:00:00 00:00:0x", noParse},  // parsing comes before the zero test
      // All six zero, before the comparison.
      {"0000:00:00 00:00:00", zeroDate},
      {"0:0:0 0:0:0", zeroDate},
      {"00000:00:00 00:00:00", zeroDate},
      {"-0:00:00 00:00:00", zeroDate},
      // Passes tokenizing and parsing, but is not the exact form.
      {"2004:1:05 10:00:00", badText},
      {"2004:01:5 10:00:00", badText},
      {"+2004:01:05 10:00:00", badText},
      {"2004:01:05  10:00:00", badText},
      {"2004:01:05 10:00:00 ", badText},
      {" 2004:01:05 10:00:00", badText},
      {"2004:01:05:10:00:00", badText},
      {"2004 01 05 10 00 00", badText},
      {"2004::01:05 10:00:00", badText},
      {"2004:01:05 10:00:00 x", badText},
      {"2004:01:05 10:00:00:00", badText},
      {"02004:01:05 10:00:00", badText},
      {"0000:00:00 00:00:00 trailing", zeroDate},  // the rest is not looked at
      {"0000:00:00 00:00:01 ", badText},
      // Numbers beyond 32 bits saturate, as strtol with a 32-bit long does,
      // and so never reproduce their text.
      {"2147483648:01:05 10:00:00", badText},
      {"99999999999999999999:01:05 10:00:00", badText},
      {"2004:01:05 10:00:-2147483649", badText},
      // Valid form, but no time that an EXIF date can name.
      {"0000:01:01 00:00:00", noUnixTime},
      {"10000:01:01 00:00:00", noUnixTime},
      {"99999:12:31 23:59:59", noUnixTime},
      {"9999:13:01 00:00:00", noUnixTime},
      {"9999:12:31 24:00:00", noUnixTime},
      {"0001:01:01 -1:00:00", noUnixTime},
      {"0001:00:01 00:00:00", noUnixTime},
      {"0000:13:01 00:00:00", noUnixTime},  // year 0, even though it normalises to 1
      {"10000:-1:01 00:00:00", noUnixTime},
      {"-001:01:01 00:00:00", noUnixTime},
      {"2147483647:2147483647:2147483647 2147483647:2147483647:2147483647", noUnixTime},
      // Six values at full width: 71 characters, all of them compared.
      {"-2147483648:-2147483648:-2147483648 -2147483648:-2147483648:-2147483648", noUnixTime},
      {"2004:2147483647:01 00:00:00", noUnixTime},
  };
  for (const auto& r : rows) EXPECT_EQ(ofDate(r.text).report, r.report) << '"' << r.text << '"';
}

TEST_F(ExifTime, WithoutTheTagOrWithoutAHandler) {
  zoneGuard utc("UTC");
  tiffWriter noDate;
  noDate.ascii(dir::ifd0, 0x0132, "2001:01:01 01:01:01").ascii(dir::exif, 0x9004, "2002:02:02 02:02:02");
  EXPECT_EQ(of(noDate.build()).report, noTag);

  // Take the default handler away for the moment.
  const textHandler* plain = plainHandlers::map.findHandler(0x9003);
  ASSERT_NE(plain, nullptr);
  struct restore {
    const textHandler* h;
    ~restore() { plainHandlers::map.setFallback(h); }
  } restoreAfterwards{plain};
  plainHandlers::map.setFallback(nullptr);
  ASSERT_EQ(plainHandlers::map.findHandler(0x9003), nullptr);
  EXPECT_EQ(ofDate("2004:01:05 10:00:00").report, noHandler);
  // The missing tag is noticed first.
  EXPECT_EQ(of(noDate.build()).report, noTag);
}

TEST_F(ExifTime, TheDateIsReadWhereverItIsAndOnlyTheFirstCounts) {
  zoneGuard utc("UTC");
  // Without its NUL, and in a big-endian block.
  EXPECT_EQ(ofDate("2004:01:05 10:00:00", false).time, 1073296800);
  EXPECT_EQ(ofDate("2004:01:05 10:00:00", true, true).time, 1073296800);
  EXPECT_EQ(ofDate("2004:01:05 10:00:00", false, true).time, 1073296800);
  // Padded with NULs after the text: the text ends at the first NUL.
  EXPECT_EQ(ofDate(std::string("2004:01:05 10:00:00\0\0\0", 22)).time, 1073296800);

  tiffWriter inIfd0;
  inIfd0.ascii(dir::ifd0, 0x9003, "2004:01:05 10:00:00");
  EXPECT_EQ(of(inIfd0.build()).time, 1073296800);

  // A second DateTimeOriginal in a later directory is never consulted.
  tiffWriter goodFirst, badFirst;
  goodFirst.dateTimeOriginal("2004:01:05 10:00:00").ascii(dir::gps, 0x9003, "garbage");
  verdict v = of(goodFirst.build());
  EXPECT_TRUE(v.ok) << v;
  EXPECT_EQ(v.time, 1073296800);
  badFirst.dateTimeOriginal("2004:01:05 10:00").ascii(dir::ifd1, 0x9003, "2004:01:05 10:00:00");
  EXPECT_EQ(of(badFirst.build()).report, noTokens);

  // Stored as another type, it is rendered and checked like any text.
  tiffWriter asUndefined, asShort;
  asUndefined.undefined(dir::exif, 0x9003, toBytes("2004:01:05 10:00:00"));
  EXPECT_EQ(of(asUndefined.build()).time, 1073296800);
  asShort.shorts(dir::exif, 0x9003, {2004, 1, 5, 10, 0, 0});
  EXPECT_EQ(of(asShort.build()).report, badText);
}

bool haveZone(const char* name) {
  struct stat st;
  return stat((std::string("/usr/share/zoneinfo/") + name).c_str(), &st) == 0;
}

TEST_F(ExifTime, SummerTimeIsTheZonesToDecide) {
  ASSERT_TRUE(haveZone("Europe/Berlin")) << "the time-zone data (tzdata) is not installed";
  zoneGuard berlin("Europe/Berlin");
  // Summer: UTC+2.  Winter: UTC+1.
  EXPECT_EQ(timeOf("2004:07:01 12:00:00"), 1088676000);  // 10:00:00 UTC
  EXPECT_EQ(timeOf("2004:01:05 10:00:00"), 1073296800 - 3600);
  // Printed back as local time, the hour is the tag's.
  verdict v = ofDate("2004:07:01 12:00:00");
  ASSERT_TRUE(v.ok) << v;
  struct tm back;
  ASSERT_NE(localtime_r(&v.time, &back), nullptr);
  char text[32];
  strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &back);
  EXPECT_STREQ(text, "2004:07:01 12:00:00");
  EXPECT_EQ(back.tm_isdst, 1);
  // One second before the epoch, in a zone an hour east of UTC.
  EXPECT_EQ(timeOf("1970:01:01 00:59:59"), -1);
  EXPECT_EQ(timeOf("1970:01:01 01:00:00"), 0);
  EXPECT_EQ(ofDate("1969:12:31 23:59:59").time, -3601);
}

TEST_F(ExifTime, TimesAroundAClockChangeDoNotDependOnTheFileBefore) {
  ASSERT_TRUE(haveZone("Europe/Berlin")) << "the time-zone data (tzdata) is not installed";
  zoneGuard berlin("Europe/Berlin");
  // 02:30 on 2004-10-31 happened twice: first in summer time (00:30 UTC),
  // then in standard time.  The first moment counts, whatever came before.
  const long long repeatedFirst = 1099182600;
  for (const char* before : {"2004:07:01 12:00:00", "2004:01:05 10:00:00", "2004:10:31 02:30:00"}) {
    timeOf(before);
    EXPECT_EQ(timeOf("2004:10:31 02:30:00"), repeatedFirst) << "after " << before;
  }
  // 02:30 on 2004-03-28 never showed on a clock: read with the offset in
  // force before the change, it is 03:30 summer time (01:30 UTC).
  for (const char* before : {"2004:07:01 12:00:00", "2004:01:05 10:00:00"}) {
    timeOf(before);
    EXPECT_EQ(timeOf("2004:03:28 02:30:00"), 1080437400) << "after " << before;
  }
  // The hours next to the changes are plain.
  EXPECT_EQ(timeOf("2004:10:31 01:59:59"), repeatedFirst - 1801);
  EXPECT_EQ(timeOf("2004:10:31 03:00:00"), 1099188000);
  EXPECT_EQ(timeOf("2004:03:28 03:00:00"), 1080435600);
}

TEST_F(ExifTime, TheZoneIsReadOnEveryCall) {
  const char* text = "2004:01:05 10:00:00";
  long long utc, tokyo;
  {
    zoneGuard z("UTC");
    utc = timeOf(text);
  }
  {
    zoneGuard z("Asia/Tokyo");
    ASSERT_TRUE(haveZone("Asia/Tokyo")) << "the time-zone data (tzdata) is not installed";
    tokyo = timeOf(text);
  }
  EXPECT_EQ(utc - tokyo, 9 * 3600);
}

// In the camera's own offset, out-of-range fields are normalised as in the
// local zone, with no limit at 2038 and -1 a time like any other.
TEST_F(ExifTime, TheCamerasOffsetNormalisesAndHasNoLimits) {
  zoneGuard berlin("Europe/Berlin");
  const struct {
    const char* date;
    const char* offset;
    long long instant;
    const char* wall;  // the wall clock after normalisation
  } rows[] = {
      {"2004:13:01 24:00:00", "+01:00", 1104620400, "2005-01-02 00:00:00"},
      {"1970:01:01 05:29:59", "+05:30", -1, "1970-01-01 05:29:59"},
      {"2040:02:29 12:00:00", "-10:00", 2214165600, "2040-02-29 12:00:00"},
      {"0001:01:01 00:00:00", "+00:00", -62135596800, "0001-01-01 00:00:00"},
  };
  for (const auto& row : rows) {
    tiffWriter w;
    w.dateTimeOriginal(row.date).ascii(dir::exif, 0x9011, row.offset);
    const std::string path = tmp / "z.jpg";
    jpegWriter().photo(w.build()).save(path);
    parsedPhoto p(path);
    const captureTime t = readCaptureTime(&p.e, captureZone::camera);
    char wall[48];
    std::snprintf(wall, sizeof wall, "%04d-%02d-%02d %02d:%02d:%02d", t.wall.tm_year + 1900,
                  t.wall.tm_mon + 1, t.wall.tm_mday, t.wall.tm_hour, t.wall.tm_min, t.wall.tm_sec);
    EXPECT_EQ(static_cast<long long>(t.instant), row.instant) << row.date;
    EXPECT_STREQ(wall, row.wall) << row.date;
  }
}

// What readCaptureTime says of a block: its time, or the report line.
struct reading {
  bool ok = false;
  captureTime t;
  std::string report;
};

class CaptureTime : public ExifTime {
 protected:
  reading read(const tiffWriter& w, captureZone zone = captureZone::camera,
               captureTags tags = captureTags::original) {
    const std::string path = tmp / "x.jpg";
    jpegWriter().photo(w.build()).save(path);
    parsedPhoto p(path);
    reading r;
    try {
      r.t = readCaptureTime(&p.e, zone, tags);
      readSubSeconds(&p.e, r.t);
      r.ok = true;
    } catch (const misc_error& e) {
      r.report = std::string("chronel:") + e.msg1() + " x.jpg" + e.msg2() + ".";
    }
    return r;
  }
  // GPSTimeStamp's three RATIONALs (numerator, denominator pairs).
  static void gpsTime(tiffWriter& w, const std::vector<uint32_t>& v, uint16_t type = 5) {
    bytes b;
    for (uint32_t x : v) {
      const bytes e = w.u32(x);
      b.insert(b.end(), e.begin(), e.end());
    }
    w.add(dir::gps, 0x0007, type, static_cast<uint32_t>(v.size() / 2), b);
  }
};

// GPSDateStamp and GPSTimeStamp give the offset only when both are whole
// and valid and lie within 2 minutes of an offset a zone uses; anything
// else is no GPS offset, never a failure.  Without -z they are not read.
TEST_F(CaptureTime, TheGpsOffsetOnlyFromWholeValidTagsNearAZonesOffset) {
  zoneGuard utc("UTC");
  const long nine = 9 * 3600;
  const std::vector<uint32_t> fix = {0, 1, 59, 1, 45, 1};  // 00:59:45, 9:00:45 before the wall clock
  struct row {
    const char* what;
    std::string date;
    std::vector<uint32_t> time;
    long offset;  // 0: the local zone (UTC)
  } rows[] = {
      {"a fix 45 s old", "2024:07:01", fix, nine},
      {"a fraction of a second", "2024:07:01", {0, 1, 59, 1, 455, 10}, nine},
      {"without its NUL", std::string("2024:07:01", 10), fix, nine},
      {"NUL padding", std::string("2024:07:01\0\0", 12), fix, nine},
      {"2 minutes off", "2024:07:01", {0, 1, 58, 1, 30, 1}, nine},
      {"2 minutes and 1 s off", "2024:07:01", {0, 1, 58, 1, 29, 1}, 0},
      {"stale", "2024:07:01", {0, 1, 45, 1, 0, 1}, 0},
      {"the day before", "2024:06:30", fix, 0},
      {"denominator 0", "2024:07:01", {0, 1, 59, 0, 45, 1}, 0},
      {"25:61:61", "2024:07:01", {25, 1, 61, 1, 61, 1}, 0},
      {"numerator 2^32-1", "2024:07:01", {0xFFFFFFFF, 1, 59, 1, 45, 1}, 0},
      {"two values", "2024:07:01", {0, 1, 59, 1}, 0},
      {"date 0000:00:00", "0000:00:00", fix, 0},
      {"February 29 of 2023", "2023:02:29", fix, 0},
      {"one-digit month", "2024:7:01", fix, 0},
      {"dashes", "2024-07-01", fix, 0},
      {"text after the date", "2024:07:01 00:59:45", fix, 0},
      {"no date", "", fix, 0},
      {"no time", "2024:07:01", {}, 0},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    tiffWriter w;
    w.dateTimeOriginal("2024:07:01 10:00:30");
    if (!r.date.empty()) w.ascii(dir::gps, 0x001D, r.date, false);
    if (!r.time.empty()) gpsTime(w, r.time);
    const reading got = read(w);
    ASSERT_TRUE(got.ok) << got.report;
    EXPECT_EQ(got.t.offset, r.offset);
    EXPECT_STREQ(got.t.zone, r.offset ? "GPS" : "TZ");
    EXPECT_EQ(static_cast<long long>(got.t.instant), 1719828030LL - r.offset);
  }
  tiffWriter w;
  w.dateTimeOriginal("2024:07:01 10:00:30").ascii(dir::gps, 0x001D, "2024:07:01");
  gpsTime(w, fix, 10);  // SRATIONAL
  EXPECT_STREQ(read(w).t.zone, "TZ");
  w = tiffWriter();
  w.dateTimeOriginal("2024:07:01 10:00:30").ascii(dir::gps, 0x001D, "2024:07:01");
  gpsTime(w, fix);
  EXPECT_STREQ(read(w, captureZone::local).t.zone, "TZ");
  // A malformed offset tag is still its report line, GPS or not.
  w.ascii(dir::exif, 0x9011, "+9:00");
  EXPECT_EQ(read(w).report, "chronel: invalid OffsetTimeOriginal tag in x.jpg.");
}

// SubSecTimeOriginal: 1 to 9 digits, then blanks or NULs; anything else
// is no fraction.
TEST_F(CaptureTime, SubSecondsOfOneToNineDigits) {
  zoneGuard utc("UTC");
  const struct {
    std::string text;
    long nanoseconds;
  } rows[] = {
      {"042", 42000000},
      {"5", 500000000},
      {"123456789", 123456789},
      {"042  ", 42000000},
      {std::string("042\0\0", 5), 42000000},
      {"0", 0},
      {"1234567890", 0},
      {std::string(40, '7'), 0},
      {" 42", 0},
      {"4x", 0},
      {"-5", 0},
      {std::string("042\0x", 5), 0},
      {"", 0},
  };
  for (const auto& row : rows) {
    tiffWriter w;
    w.dateTimeOriginal("2024:07:01 10:00:30").ascii(dir::exif, 0x9291, row.text, false);
    const reading r = read(w, captureZone::local);
    ASSERT_TRUE(r.ok) << r.report;
    EXPECT_EQ(r.t.nanoseconds, row.nanoseconds) << row.text;
    EXPECT_EQ(static_cast<long long>(r.t.instant), 1719828030);
  }
  tiffWriter w;
  w.dateTimeOriginal("2024:07:01 10:00:30").shorts(dir::exif, 0x9291, {42});
  EXPECT_EQ(read(w).t.nanoseconds, 0);
  // Another date tag's fraction is not this one's.
  w = tiffWriter();
  w.dateTimeOriginal("2024:07:01 10:00:30").ascii(dir::exif, 0x9292, "5").ascii(dir::exif, 0x9290, "5");
  EXPECT_EQ(read(w).t.nanoseconds, 0);
}

// -f: DateTimeDigitized, then DateTime, only where DateTimeOriginal is
// missing; each is checked like DateTimeOriginal, the texts naming it, and
// read in its own offset tag.
TEST_F(CaptureTime, TheFallbackTagsAreCheckedUnderTheirOwnNames) {
  zoneGuard utc("UTC");
  const captureTags f = captureTags::fallback;
  const captureZone z = captureZone::camera;
  const struct {
    const char* dto;
    const char* dtd;
    const char* dt;
    const char* report;
  } rows[] = {
      {nullptr, "2004:1:05 10:00:00", nullptr, "chronel: invalid DateTimeDigitized tag in x.jpg."},
      {nullptr, "2004:01:05 10:00:0x", "2004:01:05 10:00:00", "chronel: unable to parse DateTimeDigitized tag in x.jpg."},
      {nullptr, nullptr, ": : :", "chronel: unable to tokenize DateTime tag in x.jpg."},
      {nullptr, nullptr, "0000:00:00 00:00:00", zeroDate},
      {"2004:1:05 10:00:00", "2004:01:05 10:00:00", nullptr, badText},
      {nullptr, nullptr, nullptr, noTag},
  };
  for (const auto& row : rows) {
    tiffWriter w;
    w.ascii(dir::ifd0, 0x010F, "Scanner");
    if (row.dto) w.dateTimeOriginal(row.dto);
    if (row.dtd) w.ascii(dir::exif, 0x9004, row.dtd);
    if (row.dt) w.ascii(dir::ifd0, 0x0132, row.dt);
    EXPECT_EQ(read(w, z, f).report, row.report);
  }
  tiffWriter w;
  w.ascii(dir::ifd0, 0x0132, "2004:01:06 10:00:00").ascii(dir::exif, 0x9004, "2004:01:05 10:00:00");
  EXPECT_EQ(read(w, z).report, noTag);  // without -f
  w.ascii(dir::exif, 0x9011, "+09:00");  // DateTimeOriginal's offset, not this one's
  reading r = read(w, z, f);
  EXPECT_STREQ(r.t.source, "DateTimeDigitized");
  EXPECT_STREQ(r.t.zone, "TZ");
  EXPECT_EQ(static_cast<long long>(r.t.instant), 1073296800);
  w.ascii(dir::exif, 0x9012, "+9:00");
  EXPECT_EQ(read(w, z, f).report, "chronel: invalid OffsetTimeDigitized tag in x.jpg.");
  EXPECT_TRUE(read(w, captureZone::local, f).ok);
}

TEST(ExifDateForm, WritesWhatPrintfWrites) {
  // Zero fill to the width, the sign inside it, wider values in full.
  const long long values[] = {0, 1, 9, 10, 99, 100, 999, 1000, 2004, 9999, 10000, 12345,
                              -1, -9, -10, -99, -100, -999, -1000, INT_MAX, INT_MIN};
  for (long long a : values)
    for (long long b : values) {
      const long long v[6] = {a, b, a, b, b, a};
      char expected[exifDateMax], got[exifDateMax];
      std::snprintf(expected, sizeof expected, "%04lld:%02lld:%02lld %02lld:%02lld:%02lld", v[0],
                    v[1], v[2], v[3], v[4], v[5]);
      formatExifDate(got, v);
      ASSERT_STREQ(got, expected);
    }
}

}  // namespace
