// Capture-time extraction for chronel.
#ifndef ORVANE_UTIL_H
#define ORVANE_UTIL_H

#include <ctime>
#include <string>

class exif;

// The capture time of a photograph: its DateTimeOriginal tag, checked
// strictly and read as local wall-clock time.  Throws misc_error when the
// tag is missing or its text is not a valid EXIF date.
time_t exif_time(std::string file, exif* e);

// The capture time with what it was read from.
struct captureTime {
  time_t instant = 0;   // seconds since 1970-01-01 00:00:00 UTC
  struct tm wall = {};  // the tag's wall-clock time, normalised (years 1 to 9999)
  long offset = 0;      // seconds east of UTC that the wall clock was read in
  long nanoseconds = 0; // the fraction of the second the file records, 0 to 999999999
  // Where the time came from: the tag or field it was read from, as the
  // EXIF standard and QuickTime name them ("DateTimeOriginal", "CreationDate",
  // "mvhd", ...), and where its offset came from ("TZ", the process's zone;
  // "OffsetTimeOriginal" or the matching offset tag; "GPS"; "CreationDate";
  // "UTC" for an instant recorded without a wall clock).
  const char* source = "DateTimeOriginal";
  const char* zone = "TZ";
};

// Where the wall clock of DateTimeOriginal is read: in the process's local
// time zone, or in the camera's own UTC offset (OffsetTimeOriginal, "+HH:MM"
// or "-HH:MM") where the photograph records one, else the local zone.
enum class captureZone { local, camera };

// Checks DateTimeOriginal exactly as exif_time does (same order, same
// failures), then reads it in the zone asked for.  With the camera's
// offset, throws " invalid OffsetTimeOriginal tag in" for an offset that
// is neither blank (EXIF's "unknown") nor of that form.
captureTime readCaptureTime(exif* e, captureZone zone);

// The instant of a wall-clock time (its fields normalised) read in the
// process's local time zone; asUtc is the same fields read as UTC (timegm).
// A time repeated when clocks go back is its first moment, a time in the
// hour skipped when they go forward is read with the offset before it.
time_t localWallClockToUnix(const struct tm& wall, time_t asUtc);

// Six values at full width (a minus sign and ten digits each), five
// delimiters and the terminating NUL.
constexpr int exifDateMax = 6 * 11 + 5 + 1;

// Writes the six values (each within the range of a signed 32-bit number)
// in EXIF date form, exactly as
// "%04lld:%02lld:%02lld %02lld:%02lld:%02lld" formats them, with its NUL.
void formatExifDate(char* buffer, const long long v[6]);

#endif
