#include "regularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int readFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

int refuseNonRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

// A descriptor's number as text, written directly: snprintf cost more than
// the rest of the open.
struct numberText {
  char text[12];
};
numberText decimal(int fd) {
  char digits[12];
  int n = 0;
  unsigned v = static_cast<unsigned>(fd);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  numberText t;
  char* p = t.text;
  while (n) *p++ = digits[--n];
  *p = '\0';
  return t;
}

// The process's /proc/self/fd, opened (for its path only) the first time a
// file is: a descriptor is reopened by its number there, which spares the
// walk through /proc and self for every file (a third of the reopen's
// cost).  It stays open for the process's life.
constexpr int notYet = -1, noProc = -2;
int procFds = notYet;

}  // namespace

int regularFile::open(const char* name) {
  close();
  if (procFds == notYet) {
    procFds = ::open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (procFds < 0) procFds = noProc;
  }
  if (procFds != noProc) {
    const int path = ::open(name, O_PATH | O_CLOEXEC);
    if (path < 0) return errno;
    int e = ::fstat(path, &rf_status) != 0 ? errno : refuseNonRegular(rf_status);
    if (e == 0) {
      rf_fd = ::openat(procFds, decimal(path).text, readFlags);
      if (rf_fd >= 0) {
        rf_path = path;
        return 0;
      }
      e = errno;
    }
    ::close(path);
    return e;
  }
  // Without /proc: look before opening, then at what was opened.
  if (::stat(name, &rf_status) != 0) return errno;
  if (int e = refuseNonRegular(rf_status)) return e;
  rf_fd = ::open(name, readFlags);
  if (rf_fd < 0) return errno;
  int e = ::fstat(rf_fd, &rf_status) != 0 ? errno : refuseNonRegular(rf_status);
  if (e) close();
  return e;
}

void regularFile::close() {
  // The two descriptors were opened one after the other: usually adjacent.
  if (rf_path >= 0 && rf_fd == rf_path + 1 && ::close_range(static_cast<unsigned>(rf_path),
                                                            static_cast<unsigned>(rf_fd), 0) == 0) {
    rf_fd = rf_path = -1;
    return;
  }
  if (rf_fd >= 0) ::close(rf_fd);
  if (rf_path >= 0) ::close(rf_path);
  rf_fd = rf_path = -1;
}
