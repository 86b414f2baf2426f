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

// Six values at full width (a minus sign and ten digits each), five
// delimiters and the terminating NUL.
constexpr int exifDateMax = 6 * 11 + 5 + 1;

// Writes the six values (each within the range of a signed 32-bit number)
// in EXIF date form, exactly as
// "%04lld:%02lld:%02lld %02lld:%02lld:%02lld" formats them, with its NUL.
void formatExifDate(char* buffer, const long long v[6]);

#endif
