#include "fileCaptureTime.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"

namespace {

// Seconds from 1904-01-01 00:00:00 UTC, the movie header's epoch, to 1970.
constexpr int64_t movieEpoch = 2082844800;

misc_error noCreationTime() { return misc_error("", " does not contain a creation time"); }
misc_error invalidCreationDate() { return misc_error("", " has an invalid creation date"); }

// The n decimal digits at text[at] as a number; false when any is not one.
bool digitsAt(const std::string& text, size_t at, size_t n, int& v) {
  if (text.size() < at + n) return false;
  v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  return true;
}

// The UTC offset after a Keys date's seconds: "Z", "+HHMM" or "+HH:MM" (or
// "-"), HH below 24 and MM below 60, as seconds east of UTC.
bool keysOffset(const std::string& text, size_t at, long& seconds) {
  const std::string rest = text.substr(at);
  if (rest == "Z") {
    seconds = 0;
    return true;
  }
  int hours = 0, minutes = 0;
  const bool colon = rest.size() == 6;
  if ((rest.size() != 5 && !colon) || (rest[0] != '+' && rest[0] != '-') || !digitsAt(rest, 1, 2, hours) ||
      (colon && rest[3] != ':') || !digitsAt(rest, colon ? 4 : 3, 2, minutes) || hours > 23 || minutes > 59)
    return false;
  seconds = (rest[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
  return true;
}

// An instant as the capture time: its wall clock in UTC.
captureTime fromInstant(int64_t seconds, const char* source, const char* zone) {
  const time_t instant = static_cast<time_t>(seconds);
  captureTime t;
  if (static_cast<int64_t>(instant) != seconds || !gmtime_r(&instant, &t.wall) ||
      t.wall.tm_year + 1900L < 1 || t.wall.tm_year + 1900L > 9999)
    throw misc_error(" unable to make unix time in");
  t.instant = instant;
  t.source = source;
  t.zone = zone;
  return t;
}

// A wall clock (normalised fields, and the same read as UTC) in the local zone.
void readLocally(captureTime& t, time_t asUtc) {
  t.instant = wallClockInLocalZone(t.wall, asUtc);
  t.offset = static_cast<long>(asUtc - t.instant);
  t.zone = "TZ";
}

captureTime keysDate(const std::string& text, captureZone zone) {
  int v[6];
  static const size_t at[6] = {0, 5, 8, 11, 14, 17}, width[6] = {4, 2, 2, 2, 2, 2};
  for (int i = 0; i < 6; ++i)
    if (!digitsAt(text, at[i], width[i], v[i])) throw invalidCreationDate();
  long offset = 0;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      !keysOffset(text, 19, offset) || v[0] == 0)
    throw invalidCreationDate();
  captureTime t;
  struct tm& w = t.wall;
  w.tm_year = v[0] - 1900;
  w.tm_mon = v[1] - 1;
  w.tm_mday = v[2];
  w.tm_hour = v[3];
  w.tm_min = v[4];
  w.tm_sec = v[5];
  w.tm_isdst = -1;
  // A date that does not exist (month 13, February 30, hour 24) comes back
  // from the calendar arithmetic as another.
  const struct tm asWritten = w;
  errno = 0;
  const time_t asUtc = timegm(&w);
  if (asUtc == static_cast<time_t>(-1) && errno != 0) throw misc_error(" unable to make unix time in");
  if (w.tm_year != asWritten.tm_year || w.tm_mon != asWritten.tm_mon || w.tm_mday != asWritten.tm_mday ||
      w.tm_hour != asWritten.tm_hour || w.tm_min != asWritten.tm_min || w.tm_sec != asWritten.tm_sec)
    throw invalidCreationDate();
  t.source = "CreationDate";
  if (zone == captureZone::camera) {
    t.instant = asUtc - offset;
    t.offset = offset;
    t.zone = "CreationDate";
  } else {
    readLocally(t, asUtc);
  }
  return t;
}

}  // namespace

captureTime readRecordedTime(const recordedTime& r, captureZone zone) {
  switch (r.kind) {
    case recordedTime::creationDate:
      return keysDate(r.text, zone);
    case recordedTime::movieHeader:
      if (r.seconds == 0) throw noCreationTime();
      // 64-bit times beyond any year a date can be written in are refused below.
      return fromInstant(r.seconds > uint64_t(INT64_MAX / 2) ? INT64_MAX
                                                              : int64_t(r.seconds) - movieEpoch,
                         "mvhd", "UTC");
    case recordedTime::timeStamp: {
      if (r.seconds == 0) throw noCreationTime();
      captureTime t = fromInstant(int64_t(r.seconds), "TimeStamp", "TZ");
      readLocally(t, t.instant);
      return t;
    }
    case recordedTime::none:
      break;
  }
  throw noCreationTime();
}

captureTime fileCaptureTime(exifHeader& header, captureZone zone, captureTags tags, bool fraction) {
  if (header.timeWithoutExif()) {
    if (header.damage()) throw *header.damage();
    return readRecordedTime(header.recorded(), zone);
  }
  std::unique_ptr<exif> set(new exif(header));
  set->populate();
  captureTime t = readCaptureTime(set.get(), zone, tags);
  if (fraction) readSubSeconds(set.get(), t);
  return t;
}
