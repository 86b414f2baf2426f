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

#endif
