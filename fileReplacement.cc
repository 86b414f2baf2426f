#include "fileReplacement.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "exceptions.h"

namespace {

// Random letters for temporary names.
std::string randomSuffix(size_t length) {
  static uint64_t state = 0;
  if (state == 0) {
    if (getrandom(&state, sizeof state, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof state)) {
      timespec ts;
      clock_gettime(CLOCK_REALTIME, &ts);
      state = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 20) ^
              (static_cast<uint64_t>(getpid()) << 40);
    }
    state |= 1;
  }
  static const char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (size_t k = 0; k < length; ++k) {
    state ^= state << 13;  // xorshift64
    state ^= state >> 7;
    state ^= state << 17;
    s += letters[state % (sizeof letters - 1)];
  }
  return s;
}

// The temporary file that a signal must remove first, if any.  Written
// only while the signals are held (below), read by the handler.  These are
// the signals whose default action ends the process and that can be
// handled, but for the faults (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT,
// SIGSYS, SIGTRAP), which are left to whoever reports them (a debugger,
// the sanitizers).  SIGKILL and SIGSTOP cannot be handled.
const int cleanupSignals[] = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGPIPE, SIGALRM,
                              SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2, SIGXCPU};
char pendingPath[PATH_MAX + 1];
volatile sig_atomic_t pending = 0;

extern "C" void removePendingThenEnd(int sig) {
  if (pending) unlink(pendingPath);
  // Then the signal's own action: the process ends by it, as the shell
  // expects.  (It is held while this runs, and taken on return.)
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

void handleCleanupSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : cleanupSignals) {
    struct sigaction old;
    // A signal that the caller ignores (nohup, a background job) stays ignored.
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction sa = {};
    sa.sa_handler = removePendingThenEnd;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
  // A write past the file size limit then fails (EFBIG) instead of ending
  // the process: the temporary file is removed and the next file handled.
  signal(SIGXFSZ, SIG_IGN);
}

// Holds the cleanup signals back for its life, so that a temporary file
// and its record come and go together.
class signalsHeld {
 public:
  signalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : cleanupSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &sh_old);
  }
  ~signalsHeld() { sigprocmask(SIG_SETMASK, &sh_old, nullptr); }
  signalsHeld(const signalsHeld&) = delete;
  signalsHeld& operator=(const signalsHeld&) = delete;

 private:
  sigset_t sh_old;
};

void setPending(const std::string& path) {
  if (path.empty() || path.size() >= sizeof pendingPath) {
    pending = 0;
    return;
  }
  std::memcpy(pendingPath, path.c_str(), path.size() + 1);
  pending = 1;
}

}  // namespace

void fileReplacement::create(const std::string& target) {
  fr_target = target;
  const std::string::size_type slash = fr_target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : fr_target.substr(0, slash + 1);
  const std::string base = fr_target.substr(dir.size());
  struct stat old;
  fr_replaces = ::lstat(fr_target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (fr_replaces) fr_old = old;
  // Private until keep() gives it the older file's bits and owner.
  const mode_t mode = fr_replaces ? 0600 : 0666;
  handleCleanupSignals();
  // On a path that leaves no room for the usual name, one as long as the
  // target's own last component.
  bool shortName = false;
  int err = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string temp = dir + "." +
                             (shortName ? randomSuffix(base.size() > 1 ? base.size() - 1 : 1)
                                        : base + "." + randomSuffix(6));
    {
      const signalsHeld held;
      const int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
      if (fd >= 0) {
        fr_fd = fd;
        fr_temp = temp;
        setPending(temp);
        return;
      }
      err = errno;
    }
    if (err == ENAMETOOLONG && !shortName) {
      shortName = true;
      continue;
    }
    if (err != EEXIST) break;
  }
  // Never the older file in place instead: it stays as it was.
  throw file_error(fr_failure, err);
}

void fileReplacement::write(const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fr_fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      throw file_error(fr_failure);
    }
    if (w == 0) throw file_error(fr_failure, EIO);  // no progress: never loop forever
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void fileReplacement::keep() {
  if (!fr_temp.empty() && fr_replaces) {
    // The owner first: a change of owner may clear permission bits.
    if (::fchown(fr_fd, fr_old.st_uid, fr_old.st_gid) != 0)
      (void)!::fchown(fr_fd, static_cast<uid_t>(-1), fr_old.st_gid);  // at least the group
    if (::fchmod(fr_fd, fr_old.st_mode & 0777) != 0) throw file_error(fr_failure);
  }
  const int fd = fr_fd;
  fr_fd = -1;
  if (::close(fd) != 0 && errno != EINTR) throw file_error(fr_failure);
  const signalsHeld held;
  if (::rename(fr_temp.c_str(), fr_target.c_str()) != 0) throw file_error(fr_renameFailure);
  fr_temp.clear();
  setPending(fr_temp);
}

void fileReplacement::discard() {
  if (fr_fd >= 0) ::close(fr_fd);
  fr_fd = -1;
  if (fr_temp.empty()) return;
  const signalsHeld held;
  ::unlink(fr_temp.c_str());
  fr_temp.clear();
  setPending(fr_temp);
}
