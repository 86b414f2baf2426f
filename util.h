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

// Where the wall clock of the date tag is read: in the process's local
// time zone, or in the camera's own UTC offset where the photograph
// records one (OffsetTimeOriginal, "+HH:MM" or "-HH:MM"), else in the
// offset its GPS time gives (see gpsOffset), else the local zone.
enum class captureZone { local, camera };

// The tags a capture time is read from: DateTimeOriginal only, or, where
// the photograph has no DateTimeOriginal, DateTimeDigitized, then DateTime
// (scanners, edited files and screenshots keep only those).
enum class captureTags { original, fallback };

// Checks the date tag exactly as exif_time checks DateTimeOriginal (same
// order, same failures, their texts naming the tag read), then reads it in
// the zone asked for.  With the camera's offset, throws " invalid
// OffsetTimeOriginal tag in" (or the fallback's offset tag) for an offset
// that is neither blank (EXIF's "unknown") nor of that form.  The
// fraction of the second is left 0: see readSubSeconds.
captureTime readCaptureTime(exif* e, captureZone zone,
                            captureTags tags = captureTags::original);

// Sets t.nanoseconds from the SubSecTime tag that matches the tag t was
// read from (SubSecTimeOriginal for DateTimeOriginal, ...) where that holds
// 1 to 9 digits and then only blanks or NULs; anything else is no
// fraction.  Apart from readCaptureTime because it costs a search of every
// directory, and only the outputs that show the fraction ask for it.
void readSubSeconds(exif* e, captureTime& t);

// The UTC offset, in seconds, that a capture time's wall clock (taken as
// UTC: asUtc) was read in, as the GPS date and time the photograph
// records give it: the wall clock less the GPS time, when that lies within
// gpsTolerance seconds of an offset some zone uses, rounded to it.  A GPS
// fix is seconds to a minute older than the photograph; a stale one
// matches no offset.  False without both GPS tags, or when either is
// malformed.
constexpr long gpsTolerance = 120;
bool gpsOffset(exif* e, time_t asUtc, long& offset);

// The instant of a wall-clock time (its fields normalised) read in the
// process's local time zone; asUtc is the same fields read as UTC (timegm).
// A time repeated when clocks go back is its first moment, a time in the
// hour skipped when they go forward is read with the offset before it.
time_t wallClockInLocalZone(const struct tm& wall, time_t asUtc);

// Six values at full width (a minus sign and ten digits each), five
// delimiters and the terminating NUL.
constexpr int exifDateMax = 6 * 11 + 5 + 1;

// Writes the six values (each within the range of a signed 32-bit number)
// in EXIF date form, exactly as
// "%04lld:%02lld:%02lld %02lld:%02lld:%02lld" formats them, with its NUL.
void formatExifDate(char* buffer, const long long v[6]);

#endif
