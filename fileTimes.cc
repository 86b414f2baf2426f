#include "fileTimes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "exceptions.h"

namespace {

// Whether a modification time read back is unixtime and nanoseconds as a
// file system with a clock of up to 2-second steps keeps it.  The check is
// of whole seconds: a file system keeps the fraction, or less of it (exFAT
// 10 ms, others whole seconds), never more.  Steps of 2 seconds fall on even
// seconds: a time one second early that is odd is a time clamped to the
// last one a file system can store (2147483647, 32-bit times), not rounded.
bool storedAsWellAsItCan(const struct timespec& stored, time_t unixtime, long nanoseconds) {
  constexpr time_t coarsestStep = 2;
  if (stored.tv_nsec < 0 || stored.tv_nsec > nanoseconds) return false;
  return stored.tv_sec == unixtime ||
         (stored.tv_sec < unixtime && unixtime - stored.tv_sec < coarsestStep &&
          stored.tv_sec % coarsestStep == 0);
}

}  // namespace

accessTime noteAccessTime(const std::string& file) {
  accessTime a;
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    a.known = true;
    a.dev = st.st_dev;
    a.ino = st.st_ino;
    a.at = st.st_atim;
  }
  return a;
}

// Everything goes through the descriptor: whatever now stands at the file's
// name (another file, a symbolic link planted after the photograph was
// read) is not touched.  The access time noted before reading is put back
// when it was noted of this very file; otherwise the current one stays.
// A file system clamps a time it cannot store (ext4 holds 1901-12-13 to
// 2446-05-10) without an error, so the stored time is read back; when it
// differs, the file gets its old times back and the failure is reported.
// A file system whose clock is coarser stores the time rounded down to its
// step (FAT and exFAT keep modification times in 2-second steps): that is
// the capture time as well as it can be kept, and no failure.
void set_mtime(std::string /*file*/, time_t unixtime, int fd, const accessTime& before,
               long nanoseconds) {
  struct stat statbuf;
  if (fstat(fd, &statbuf) != 0) throw file_error(" unable to stat");
  struct timespec newtimes[2];
  if (before.known && before.dev == statbuf.st_dev && before.ino == statbuf.st_ino) {
    newtimes[0] = before.at;
  } else {
    newtimes[0].tv_sec = 0;
    newtimes[0].tv_nsec = UTIME_OMIT;
  }
  newtimes[1].tv_sec = unixtime;
  newtimes[1].tv_nsec = nanoseconds;
  if (futimens(fd, newtimes) != 0) throw file_error(" unable to set times on");
  struct stat stored;
  if (fstat(fd, &stored) != 0) throw file_error(" unable to stat");
  if (!storedAsWellAsItCan(stored.st_mtim, unixtime, nanoseconds)) {
    const struct timespec oldtimes[2] = {newtimes[0], statbuf.st_mtim};
    futimens(fd, oldtimes);  // at best; the report says the time is wrong either way
    throw misc_error(" unable to set times on", ": the file system cannot store that time");
  }
}
