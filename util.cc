#include "util.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "exceptions.h"
#include "exif.h"
#include "exifTag.h"
#include "textHandlerMap.h"

namespace {

constexpr unsigned short dateTimeOriginal = 36867;
constexpr unsigned short offsetTimeOriginal = 0x9011;

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

}  // namespace

// Reads a wall-clock time (fields already normalised) as local time under
// the zone's rules, the same way whatever was converted before: mktime
// guesses from its previous call, which made a time in the hour repeated
// when clocks go back come out either way depending on the file before it.
// A repeated time is read as its first moment (summer time); a time in the
// hour skipped when clocks go forward with the offset in force before the
// change (02:30 becomes 03:30 summer time), as mktime reads it.
time_t localWallClockToUnix(const struct tm& wall, time_t asUtc) {
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

namespace {

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

// The UTC offset the camera recorded with the capture time
// (OffsetTimeOriginal).  False when the photograph records none.
bool cameraOffset(exif* e, long& seconds) {
  const ifd* dir = nullptr;
  const field* f = e->find(offsetTimeOriginal, dir);
  if (!f) return false;
  const textHandler* h = plainHandlers::map.findHandler(f->tag());
  const char* text = h ? h->fieldText(dir, f) : "";
  if (blank(text)) return false;
  if (!parseOffset(text, seconds)) throw misc_error(" invalid OffsetTimeOriginal tag in");
  return true;
}

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

captureTime readCaptureTime(exif* e, captureZone zone) {
  const ifd* ifdir = nullptr;
  const field* f = e->find(dateTimeOriginal, ifdir);
  if (!f) throw misc_error("", " does not contain DateTimeOriginal tag");
  if (!exifTag::find(f->tag()))
    throw misc_error(" unable to find tag info for DateTimeOriginal tag");
  const textHandler* h = plainHandlers::map.findHandler(f->tag());
  if (!h) throw misc_error(" unable to find handler for DateTimeOriginal tag");
  const std::string dto = h->fieldText(ifdir, f);

  // Working copy for the tokenizer, released on every way out.
  std::unique_ptr<char[]> dto_s(new char[dto.size() + 1]);
  std::memcpy(dto_s.get(), dto.c_str(), dto.size() + 1);

  char* token[6];
  token[0] = std::strtok(dto_s.get(), ": ");
  for (int i = 1; i < 6; ++i) token[i] = token[i - 1] ? std::strtok(nullptr, ": ") : nullptr;
  for (char* t : token)
    if (!t) throw misc_error(" unable to tokenize DateTimeOriginal tag in");

  long long v[6];
  for (int i = 0; i < 6; ++i) v[i] = toLong32(token[i], &token[i]);
  for (char* end : token)
    if (*end != '\0') throw misc_error(" unable to parse DateTimeOriginal tag in");
  const long long &yl = v[0], &ml = v[1], &dl = v[2], &hl = v[3], &nl = v[4], &sl = v[5];

  if (!yl && !ml && !dl && !hl && !nl && !sl) throw misc_error("", " contains invalid zero date");

  char buffer[exifDateMax];
  formatExifDate(buffer, v);
  if (std::strcmp(buffer, dto.c_str()) != 0) throw misc_error(" invalid DateTimeOriginal tag in");

  // The year must be writable as an EXIF date (1 to 9999) as given, and
  // again once the other fields are normalised (below).
  if (yl < 1 || yl > 9999 || !fitsInt(ml - 1)) throw noUnixTime();
  captureTime t;
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
  if (zone == captureZone::camera && cameraOffset(e, t.offset)) {
    t.instant = asUtc - t.offset;
  } else {
    t.instant = localWallClockToUnix(btime, asUtc);
    t.offset = static_cast<long>(asUtc - t.instant);
  }
  return t;
}
