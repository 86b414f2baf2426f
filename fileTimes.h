// File times for chronel -m: the access time noted before a photograph is
// read, and setting the modification time to the capture time.
#ifndef ORVANE_FILETIMES_H
#define ORVANE_FILETIMES_H

#include <sys/types.h>

#include <ctime>
#include <string>

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
// photograph was read from, never its name again) to unixtime and
// nanoseconds (0 to 999999999), and leaves its access time as noted in
// before.  Throws misc_error when the times cannot be set or the file
// system stored another second than the one asked for (a file system that
// keeps less of the fraction, or none, stores the time as well as it can).
void set_mtime(std::string file, time_t unixtime, int fd, const accessTime& before,
               long nanoseconds = 0);

#endif
