// A library that tests preload (LD_PRELOAD) into a tool to make the world
// misbehave at an exact moment, without sleeps.  Each fault is asked for by
// an environment variable:
//
//   ORVANE_FAULT_TRUNCATE=SUFFIX:N:SIZE
//       just before the Nth pread on a file whose path ends with SUFFIX,
//       the file is cut to SIZE bytes (as another process might cut it).
//   ORVANE_FAULT_FAT=1
//       futimens and utimensat store times as a FAT file system does:
//       modification times in 2-second steps, rounded down, access times as
//       a date; times outside 1980 to 2107 are clamped into that range.
//   ORVANE_FAULT_LATEST=N
//       futimens and utimensat store a time after unix time N as N, as a
//       file system does whose times end there (2147483647 where they are
//       32-bit numbers).
//   ORVANE_FAULT_SIGNAL=PATTERN:SIGNAL
//       the first write to a file whose path holds PATTERN writes half its
//       bytes, then the process gets SIGNAL.
//   ORVANE_FAULT_COLD=1
//       no byte is in the page cache: a read that asks for cached bytes
//       only (RWF_NOWAIT) gets none.  ORVANE_FAULT_COLD=EOPNOTSUPP: the
//       file system cannot tell (NFS, FUSE and FAT answer so).
//   ORVANE_FAULT_REPLACE=SUFFIX:SOURCE
//       once a read-ahead hint is given for a file whose path ends with
//       SUFFIX, the file SOURCE is renamed over it.
//   ORVANE_FAULT_NOSPACE=PATTERN
//       creating a file whose path holds PATTERN fails with ENOSPC, as on
//       a full file system.
//   ORVANE_FAULT_SWAP=SUFFIX:OTHER
//       once a name ending with SUFFIX has been looked up (stat, or opened
//       for its path only, O_PATH), it and OTHER exchange names, as another
//       process racing the tool might; from then on every open that gives a
//       FIFO or a device writes "faults: opened a FIFO or device" to
//       standard error.
//   ORVANE_FAULT_NOPROC=1
//       nothing under /proc can be opened, as where it is not mounted.
//   ORVANE_FAULT_NOREPLACE=1
//       renameat2 refuses RENAME_NOREPLACE (EINVAL), as file systems do
//       that have no such rename.
//   ORVANE_FAULT_KILL_RENAME=N
//       the Nth renameat2 call kills the process (SIGKILL) before it
//       renames anything.
//   ORVANE_FAULT_KILL_UNLINK=N
//       the Nth unlink call kills the process (SIGKILL) before it removes
//       anything.
//   ORVANE_FAULT_SWAP_AT_RENAME=SUFFIX:OTHER
//       just before the first renameat2 of a name ending with SUFFIX, that
//       name and OTHER exchange their files (as another process might).
#include <dlfcn.h>
#include <linux/fs.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The C library's names of the calls that take 64-bit times: on a 32-bit
// build with a 64-bit time_t the plain names take 32-bit ones.
#if defined(__USE_TIME_BITS64) && __TIMESIZE == 32
const char* const futimensName = "__futimens64";
const char* const utimensatName = "__utimensat64";
#else
const char* const futimensName = "futimens";
const char* const utimensatName = "utimensat";
#endif

std::string pathOf(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void maybeTruncate(int fd) {
  static const char* setting = std::getenv("ORVANE_FAULT_TRUNCATE");
  static long count = 0;
  if (!setting) return;
  const std::string s = setting;
  const size_t a = s.find(':'), b = s.rfind(':');
  if (a == std::string::npos || b == a) return;
  const std::string path = pathOf(fd);
  if (!endsWith(path, s.substr(0, a))) return;
  if (++count == std::atol(s.substr(a + 1, b - a - 1).c_str()))
    if (truncate(path.c_str(), std::atoll(s.substr(b + 1).c_str())) != 0) std::perror("truncate");
}

// FAT keeps local date and time from 1980 to 2107; this library keeps UTC.
void asFat(timespec& t, bool access) {
  if (t.tv_nsec == UTIME_OMIT || t.tv_nsec == UTIME_NOW) return;
  const time_t first = 315532800, last = 4354819198;  // 1980-01-01, 2107-12-31 23:59:58
  if (t.tv_sec < first) t.tv_sec = first;
  if (t.tv_sec > last) t.tv_sec = last;
  t.tv_sec -= t.tv_sec % (access ? 86400 : 2);
  t.tv_nsec = 0;
}

const timespec* fatTimes(const timespec* times, timespec* out) {
  if (!times || !std::getenv("ORVANE_FAULT_FAT")) return times;
  out[0] = times[0];
  out[1] = times[1];
  asFat(out[0], true);
  asFat(out[1], false);
  return out;
}

const timespec* clampedTimes(const timespec* times, timespec* out) {
  const char* latest = std::getenv("ORVANE_FAULT_LATEST");
  if (!times || !latest) return times;
  const time_t last = static_cast<time_t>(std::atoll(latest));
  for (int i = 0; i < 2; ++i) {
    out[i] = times[i];
    if (out[i].tv_nsec != UTIME_OMIT && out[i].tv_nsec != UTIME_NOW && out[i].tv_sec > last) {
      out[i].tv_sec = last;
      out[i].tv_nsec = 0;
    }
  }
  return out;
}

// The times as the file system that the faults make stores them.
const timespec* storedTimes(const timespec* times, timespec* fat, timespec* clamped) {
  return clampedTimes(fatTimes(times, fat), clamped);
}

// ORVANE_FAULT_SWAP: exchanges the names once, after the first look at a
// name with the suffix.
bool swapped = false;
void maybeSwap(const char* path) {
  static const char* setting = std::getenv("ORVANE_FAULT_SWAP");
  if (!setting || swapped) return;
  const std::string s = setting;
  const size_t colon = s.find(':');
  if (colon == std::string::npos || !endsWith(path, s.substr(0, colon))) return;
  swapped = true;
  if (syscall(SYS_renameat2, AT_FDCWD, path, AT_FDCWD, s.substr(colon + 1).c_str(),
              RENAME_EXCHANGE) != 0)
    std::perror("renameat2");
}

void noteOpened(int fd) {
  struct stat st;
  if (!swapped || fd < 0 || fstat(fd, &st) != 0) return;
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
    static const char line[] = "faults: opened a FIFO or device\n";
    if (::write(2, line, sizeof line - 1) < 0) std::perror("write");
  }
}

template <class F>
int openWithFaults(F real, const char* path, int flags, mode_t mode) {
  static const char* noSpace = std::getenv("ORVANE_FAULT_NOSPACE");
  if (noSpace && (flags & O_CREAT) && std::strstr(path, noSpace)) {
    errno = ENOSPC;
    return -1;
  }
  if (std::getenv("ORVANE_FAULT_NOPROC") && std::strncmp(path, "/proc/", 6) == 0) {
    errno = ENOENT;
    return -1;
  }
  const int fd = real(path, flags, mode);
  if (flags & O_PATH) maybeSwap(path);
  else noteOpened(fd);
  return fd;
}

}  // namespace

extern "C" {

// The tools call open64 (a 64-bit off_t everywhere); open is the same call
// here, with O_LARGEFILE implied.  (On 64-bit builds stat and stat64 too.)
int faultsOpen64(const char* path, int flags, ...) __asm__("open64");
int faultsOpen(const char* path, int flags, ...) __asm__("open") __attribute__((alias("open64")));

int faultsOpen64(const char* path, int flags, ...) {
  static auto real = next<int (*)(const char*, int, ...)>("open64");
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = flags & (O_CREAT | O_TMPFILE) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  va_end(ap);
  return openWithFaults(real, path, flags, mode);
}

#if __WORDSIZE == 64  // 32-bit builds call stat by other names
int faultsStat(const char* path, struct stat* st) __asm__("stat");
int faultsStat64(const char* path, struct stat* st) __asm__("stat64");

int faultsStat(const char* path, struct stat* st) {
  static auto real = next<int (*)(const char*, struct stat*)>("stat");
  const int r = real(path, st);
  maybeSwap(path);
  return r;
}

int faultsStat64(const char* path, struct stat* st) {
  static auto real = next<int (*)(const char*, struct stat*)>("stat64");
  const int r = real(path, st);
  maybeSwap(path);
  return r;
}
#endif

ssize_t pread64(int fd, void* buf, size_t n, off64_t at) {
  maybeTruncate(fd);
  static auto real = next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
  return real(fd, buf, n, at);
}

ssize_t preadv2(int fd, const iovec* v, int n, off_t at, int flags) {
  if ((flags & RWF_NOWAIT) && std::getenv("ORVANE_FAULT_COLD")) {
    errno = std::strcmp(std::getenv("ORVANE_FAULT_COLD"), "EOPNOTSUPP") == 0 ? EOPNOTSUPP : EAGAIN;
    return -1;
  }
  maybeTruncate(fd);
  static auto real = next<ssize_t (*)(int, const iovec*, int, off_t, int)>("preadv64v2");
  return real(fd, v, n, at, flags);
}

int posix_fadvise(int fd, off_t at, off_t n, int advice) {
  static const char* setting = std::getenv("ORVANE_FAULT_REPLACE");
  static auto real = next<int (*)(int, off_t, off_t, int)>("posix_fadvise64");
  const int r = real(fd, at, n, advice);
  static bool done = false;
  if (setting && !done) {
    const std::string s = setting;
    const size_t colon = s.find(':');
    const std::string path = pathOf(fd);
    if (colon != std::string::npos && endsWith(path, s.substr(0, colon))) {
      done = true;
      if (rename(s.substr(colon + 1).c_str(), path.c_str()) != 0) std::perror("rename");
    }
  }
  return r;
}

int futimens(int fd, const timespec times[2]) {
  static auto real = next<int (*)(int, const timespec*)>(futimensName);
  timespec fat[2], clamped[2];
  return real(fd, storedTimes(times, fat, clamped));
}

int utimensat(int dirfd, const char* path, const timespec times[2], int flags) {
  static auto real = next<int (*)(int, const char*, const timespec*, int)>(utimensatName);
  timespec fat[2], clamped[2];
  return real(dirfd, path, storedTimes(times, fat, clamped), flags);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  static long calls = 0;
  static const char* kill = std::getenv("ORVANE_FAULT_KILL_RENAME");
  if (kill && ++calls == std::atol(kill)) raise(SIGKILL);
  if ((flags & RENAME_NOREPLACE) && std::getenv("ORVANE_FAULT_NOREPLACE")) {
    errno = EINVAL;
    return -1;
  }
  static const char* swap = std::getenv("ORVANE_FAULT_SWAP_AT_RENAME");
  static bool swapped = false;
  if (swap && !swapped) {
    const std::string s = swap;
    const size_t colon = s.find(':');
    if (colon != std::string::npos && endsWith(from, s.substr(0, colon))) {
      swapped = true;
      if (real(AT_FDCWD, from, AT_FDCWD, s.substr(colon + 1).c_str(), RENAME_EXCHANGE) != 0)
        std::perror("renameat2");
    }
  }
  return real(fromDir, from, toDir, to, flags);
}

int unlink(const char* path) {
  static auto real = next<int (*)(const char*)>("unlink");
  static long calls = 0;
  static const char* kill = std::getenv("ORVANE_FAULT_KILL_UNLINK");
  if (kill && ++calls == std::atol(kill)) raise(SIGKILL);
  return real(path);
}

ssize_t write(int fd, const void* buf, size_t n) {
  static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
  static const char* setting = std::getenv("ORVANE_FAULT_SIGNAL");
  static bool done = false;
  if (setting && !done && n > 1) {
    const std::string s = setting;
    const size_t colon = s.rfind(':');
    if (colon != std::string::npos && pathOf(fd).find(s.substr(0, colon)) != std::string::npos) {
      done = true;
      const ssize_t w = real(fd, buf, n / 2);
      raise(std::atoi(s.substr(colon + 1).c_str()));
      return w;
    }
  }
  return real(fd, buf, n);
}

}  // extern "C"
