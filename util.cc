#include "util.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "asciiField.h"
#include "exceptions.h"
#include "exif.h"
#include "exifTag.h"
#include "fieldHandler.h"
#include "numericFields.h"
#include "textHandlerMap.h"

namespace {

// A date tag with the tags that complete it: its UTC offset and the
// fraction of its second.
struct dateTag {
  unsigned short tag;
  const char* name;
  unsigned short offsetTag;
  const char* offsetName;
  unsigned short subSecTag;
};

// DateTimeOriginal, then the fallbacks in the order they are tried.
const dateTag dateTags[] = {
    {0x9003, "DateTimeOriginal", 0x9011, "OffsetTimeOriginal", 0x9291},
    {0x9004, "DateTimeDigitized", 0x9012, "OffsetTimeDigitized", 0x9292},
    {0x0132, "DateTime", 0x9010, "OffsetTime", 0x9290},
};

constexpr unsigned short gpsTimeStamp = 0x0007;
constexpr unsigned short gpsDateStamp = 0x001D;

// The tag's values are read as signed 32-bit numbers on every build, so a
// date text gives the same verdict on 32- and 64-bit machines: like strtol
// with a 32-bit long, an out-of-range number saturates.
long long toLong32(const char* text, char** end) {
  long long v = std::strtoll(text, end, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return v;
}

bool fitsInt(long long v) { return v >= INT_MIN && v <= INT_MAX; }

bool sameWallClock(const struct tm& a, const struct tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
         a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

long utcOffsetAt(time_t t) {
  struct tm local;
  return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
}

// Reads a wall-clock time (fields already normalised) as local time under
// the zone's rules, the same way whatever was converted before: mktime
// guesses from its previous call, which made a time in the hour repeated
// when clocks go back come out either way depending on the file before it.
// A repeated time is read as its first moment (summer time); a time in the
// hour skipped when clocks go forward with the offset in force before the
// change (02:30 becomes 03:30 summer time), as mktime reads it.
inline time_t localWallClockToUnix(const struct tm& wall, time_t asUtc) {
  // Offsets in force around the moment: before a change, after it, and at it.
  const long day = 86400;
  const long offsets[3] = {utcOffsetAt(asUtc - day), utcOffsetAt(asUtc + day), utcOffsetAt(asUtc)};
  bool found = false;
  time_t out = 0;
  for (int i = 0; i < 3; ++i) {
    const long offset = offsets[i];
    // An offset seen already gives the same candidate again.
    if ((i > 0 && offset == offsets[0]) || (i == 2 && offset == offsets[1])) continue;
    const time_t t = asUtc - offset;
    struct tm back;
    if (!localtime_r(&t, &back) || !sameWallClock(back, wall)) continue;
    if (!found || t < out) out = t;
    found = true;
  }
  return found ? out : asUtc - offsets[0];  // not found: in a skipped hour
}

// Writes v zero-filled to at least width characters (the minus sign
// included), as printf's %0*lld does.
char* putFilled(char* out, long long v, int width) {
  unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : v;
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) {
    *out++ = '-';
    --width;
  }
  for (int i = n; i < width; ++i) *out++ = '0';
  while (n) *out++ = digits[--n];
  return out;
}

misc_error noUnixTime() { return misc_error(" unable to make unix time in"); }

// Blanks and colons alone: how EXIF writes an offset it does not know.
bool blank(const char* text) { return text[std::strspn(text, " :")] == '\0'; }

// "+HH:MM" or "-HH:MM", HH 00 to 23, MM 00 to 59, as seconds east of UTC.
bool parseOffset(const char* text, long& seconds) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (std::strlen(text) != 6 || (text[0] != '+' && text[0] != '-') || !digit(text[1]) ||
      !digit(text[2]) || text[3] != ':' || !digit(text[4]) || !digit(text[5]))
    return false;
  const int hours = (text[1] - '0') * 10 + (text[2] - '0');
  const int minutes = (text[4] - '0') * 10 + (text[5] - '0');
  if (hours > 23 || minutes > 59) return false;
  seconds = (text[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
  return true;
}

// The UTC offset the camera recorded with the capture time (the date
// tag's offset tag).  False when the photograph records none.
bool cameraOffset(exif* e, const dateTag& date, long& seconds) {
  const ifd* dir = nullptr;
  const field* f = e->find(date.offsetTag, dir);
  if (!f) return false;
  const textHandler* h = plainHandlers::map.findHandler(f->tag());
  const char* text = h ? h->fieldText(dir, f) : "";
  if (blank(text)) return false;
  if (!parseOffset(text, seconds))
    throw misc_error((std::string(" invalid ") + date.offsetName + " tag in").c_str());
  return true;
}

// The stored bytes of an ASCII field, or of a RATIONAL one's values: the
// GPS and sub-second tags are read as stored, not as text.
class storedValue final : public fieldHandler {
 public:
  void handleAscii(const asciiField& f) override {
    sv_ascii = f.value();
    sv_count = f.count();
  }
  void handleInteger(const integerField&) override {}
  void handleRational(const rationalField& f) override { sv_rational = &f; }
  void handleUndefined(const undefinedField&) override {}
  void handleReal(const realField&) override {}

  const char* sv_ascii = nullptr;
  uint32_t sv_count = 0;
  const rationalField* sv_rational = nullptr;
};

storedValue valueOf(const field* f) {
  storedValue v;
  if (f) f->handleField(v);
  return v;
}

// True when the n bytes of an ASCII value are text of `used` bytes and
// then only blanks or NULs (the padding writers leave).
bool paddedFrom(const char* p, uint32_t n, uint32_t used) {
  for (uint32_t i = used; i < n; ++i)
    if (p[i] != ' ' && p[i] != '\0') return false;
  return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// GPSDateStamp, "YYYY:MM:DD" (a real date of years 1 to 9999), as days
// since 1970-01-01.
bool gpsDate(const ifd& gps, long long& days) {
  const storedValue v = valueOf(gps.find(gpsDateStamp));
  const char* p = v.sv_ascii;
  if (!p || v.sv_count < 10 || !paddedFrom(p, v.sv_count, 10) || p[4] != ':' || p[7] != ':')
    return false;
  for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!isDigit(p[i])) return false;
  const int year = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
  const unsigned month = (p[5] - '0') * 10 + (p[6] - '0'), day = (p[8] - '0') * 10 + (p[9] - '0');
  static const unsigned char monthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > monthDays[month - 1]) return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  days = daysFromCivil(year, month, day);
  return true;
}

// GPSTimeStamp, three RATIONALs (hour, minute, second; each may have a
// fraction), as whole seconds since midnight: hour below 24, minute below
// 60, second below 61 (a leap second), no denominator 0.
bool gpsTime(const ifd& gps, long& seconds) {
  const rationalField* r = valueOf(gps.find(gpsTimeStamp)).sv_rational;
  if (!r || r->isSigned() || r->count() != 3) return false;
  static const long long limit[3] = {24, 60, 61}, unit[3] = {3600, 60, 1};
  long long total = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    const long long num = r->numerator(i), den = r->denominator(i);
    if (den <= 0 || num < 0 || num >= limit[i] * den) return false;
    total += num * unit[i] / den;
  }
  seconds = static_cast<long>(total);
  return true;
}

// The offsets zones use, in minutes east of UTC: the whole hours from
// -12 to +14 and the half and three-quarter hours in use.
const short zoneOffsets[] = {-720, -660, -600, -570, -540, -480, -420, -360, -300, -240,
                             -210, -180, -150, -120, -60,  0,    60,   120,  180,  210,
                             240,  270,  300,  330,  345,  360,  390,  420,  480,  525,
                             540,  570,  600,  630,  660,  720,  765,  780,  825,  840};

}  // namespace

void formatExifDate(char* buffer, const long long v[6]) {
  static const char delimiter[6] = {':', ':', ' ', ':', ':', '\0'};
  char* out = buffer;
  for (int i = 0; i < 6; ++i) {
    out = putFilled(out, v[i], i == 0 ? 4 : 2);
    *out++ = delimiter[i];
  }
}

time_t exif_time(std::string /*file*/, exif* e) {
  return readCaptureTime(e, captureZone::local).instant;
}

void readSubSeconds(exif* e, captureTime& t) {
  t.nanoseconds = 0;
  const dateTag* date = std::find_if(std::begin(dateTags), std::end(dateTags), [&](const dateTag& d) {
    return std::strcmp(d.name, t.source) == 0;
  });
  if (date == std::end(dateTags)) return;
  const ifd* dir = nullptr;
  const storedValue v = valueOf(e->find(date->subSecTag, dir));
  if (!v.sv_ascii) return;
  uint32_t n = 0;
  while (n < v.sv_count && isDigit(v.sv_ascii[n])) ++n;
  if (n == 0 || n > 9 || !paddedFrom(v.sv_ascii, v.sv_count, n)) return;
  long nanoseconds = 0;
  for (uint32_t i = 0; i < 9; ++i) nanoseconds = nanoseconds * 10 + (i < n ? v.sv_ascii[i] - '0' : 0);
  t.nanoseconds = nanoseconds;
}

bool gpsOffset(exif* e, time_t asUtc, long& offset) {
  for (const ifd* d : e->directories()) {
    if (d->kind() != ifd::gpsIfd) continue;
    long long days;
    long seconds;
    if (!gpsDate(*d, days) || !gpsTime(*d, seconds)) return false;
    const long long difference = static_cast<long long>(asUtc) - (days * 86400 + seconds);
    for (const short minutes : zoneOffsets) {
      const long long away = difference - minutes * 60LL;
      if (away >= -gpsTolerance && away <= gpsTolerance) {
        offset = minutes * 60L;
        return true;
      }
    }
    return false;
  }
  return false;
}

captureTime readCaptureTime(exif* e, captureZone zone, captureTags tags) {
  const ifd* ifdir = nullptr;
  const dateTag* date = dateTags;
  const field* f = e->find(date->tag, ifdir);
  if (!f && tags == captureTags::fallback)
    for (const dateTag* other = dateTags + 1; !f && other != std::end(dateTags); ++other) {
      f = e->find(other->tag, ifdir);
      if (f) date = other;
    }
  if (!f) throw misc_error("", " does not contain DateTimeOriginal tag");
  // The checks' texts name the tag read: " unable to parse DateTimeDigitized tag in".
  const auto failure = [date](const char* before, const char* after) {
    return misc_error((before + std::string(date->name) + after).c_str());
  };
  if (!exifTag::find(f->tag())) throw failure(" unable to find tag info for ", " tag");
  const textHandler* h = plainHandlers::map.findHandler(f->tag());
  if (!h) throw failure(" unable to find handler for ", " tag");
  const std::string dto = h->fieldText(ifdir, f);

  // Working copy for the tokenizer, released on every way out.
  std::unique_ptr<char[]> dto_s(new char[dto.size() + 1]);
  std::memcpy(dto_s.get(), dto.c_str(), dto.size() + 1);

  char* token[6];
  token[0] = std::strtok(dto_s.get(), ": ");
  for (int i = 1; i < 6; ++i) token[i] = token[i - 1] ? std::strtok(nullptr, ": ") : nullptr;
  for (char* t : token)
    if (!t) throw failure(" unable to tokenize ", " tag in");

  long long v[6];
  for (int i = 0; i < 6; ++i) v[i] = toLong32(token[i], &token[i]);
  for (char* end : token)
    if (*end != '\0') throw failure(" unable to parse ", " tag in");
  const long long &yl = v[0], &ml = v[1], &dl = v[2], &hl = v[3], &nl = v[4], &sl = v[5];

  if (!yl && !ml && !dl && !hl && !nl && !sl) throw misc_error("", " contains invalid zero date");

  char buffer[exifDateMax];
  formatExifDate(buffer, v);
  if (std::strcmp(buffer, dto.c_str()) != 0) throw failure(" invalid ", " tag in");

  // The year must be writable as an EXIF date (1 to 9999) as given, and
  // again once the other fields are normalised (below).
  if (yl < 1 || yl > 9999 || !fitsInt(ml - 1)) throw noUnixTime();
  captureTime t;
  t.source = date->name;
  struct tm& btime = t.wall;
  btime.tm_year = static_cast<int>(yl - 1900);
  btime.tm_mon = static_cast<int>(ml - 1);
  btime.tm_mday = static_cast<int>(dl);
  btime.tm_hour = static_cast<int>(hl);
  btime.tm_min = static_cast<int>(nl);
  btime.tm_sec = static_cast<int>(sl);
  btime.tm_wday = 0;
  btime.tm_yday = 0;
  btime.tm_isdst = -1;  // the zone's rules say whether summer time applies
  // Normalise out-of-range fields (month 13, hour 24) as calendar arithmetic,
  // then read the wall clock in the zone.
  errno = 0;
  const time_t asUtc = timegm(&btime);
  if (asUtc == static_cast<time_t>(-1) && errno != 0) throw noUnixTime();
  const long long year = btime.tm_year + 1900LL;
  if (year < 1 || year > 9999) throw noUnixTime();
  if (zone == captureZone::camera && cameraOffset(e, *date, t.offset)) {
    t.zone = date->offsetName;
    t.instant = asUtc - t.offset;
  } else if (zone == captureZone::camera && gpsOffset(e, asUtc, t.offset)) {
    t.zone = "GPS";
    t.instant = asUtc - t.offset;
  } else {
    t.instant = localWallClockToUnix(btime, asUtc);
    t.offset = static_cast<long>(asUtc - t.instant);
  }
  return t;
}

time_t wallClockInLocalZone(const struct tm& wall, time_t asUtc) { return localWallClockToUnix(wall, asUtc); }
