// Capture-time extraction for chronel, and setting a file's times to it.
#ifndef ORVANE_UTIL_H
#define ORVANE_UTIL_H

#include <sys/types.h>

#include <ctime>
#include <string>

class exif;

// The capture time of a photograph: its DateTimeOriginal tag, checked
// strictly and read as local wall-clock time.  Throws misc_error when the
// tag is missing or its text is not a valid EXIF date.
time_t exif_time(std::string file, exif* e);

// The access time a file had before chronel read it.  Reading a photograph
// can itself move its access time (relatime and strictatime mounts), so -m
// notes it first and puts exactly that back.
struct accessTime {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec at = {};
};

accessTime noteAccessTime(const std::string& file);

// Sets the modification time of the file open on fd (the descriptor the
// photograph was read from, never its name again) to unixtime in whole
// seconds, and leaves its access time as noted in before.  Throws
// misc_error when the times cannot be set or the file system stored
// another time than the one asked for.
void set_mtime(std::string file, time_t unixtime, int fd, const accessTime& before);

// Six values at full width (a minus sign and ten digits each), five
// delimiters and the terminating NUL.
constexpr int exifDateMax = 6 * 11 + 5 + 1;

// Writes the six values (each within the range of a signed 32-bit number)
// in EXIF date form, exactly as
// "%04lld:%02lld:%02lld %02lld:%02lld:%02lld" formats them, with its NUL.
void formatExifDate(char* buffer, const long long v[6]);

#endif
