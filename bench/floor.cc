// benchfloor: the least any tool must do with each file, as a yardstick.
//
//   benchfloor head FILE...    open, read the first 64 KiB, close
//   benchfloor head4k FILE...  open, read the first 4 KiB, close
//   benchfloor rename4k DIR FILE...
//                              as head4k, then FILE is renamed to
//                              DIR/NAME (NAME its last name) with
//                              renameat2's RENAME_NOREPLACE, as filing
//                              must (DIR is made first)
//   benchfloor parallel P FILE...  head4k in P processes at once, process k
//                              reading every Pth file from the kth: what
//                              the storage gives readers that wait on it
//                              side by side (the cold floor beside head4k)
//   benchfloor whole FILE...   open, read the whole file into memory, close
//   benchfloor write N FILE... as whole, then write N bytes (the size of
//                              the sound clip) to FILE.wav the way an
//                              extracting tool must: into a new temporary
//                              file beside it, closed, then renamed
//
// Both read with as few calls as the kernel allows into one page-aligned
// buffer that is kept (and for "whole" grown) across files, so the figure
// holds no cost but the system calls and the copying from the page cache.
// (The alignment matters: on some processors the kernel copies into a
// buffer that starts mid-line far more slowly.)  Nothing is written on
// success; a file that cannot be read is named on standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr size_t headBytes = 64 * 1024;
constexpr size_t smallHeadBytes = 4 * 1024;
constexpr size_t pageSize = 4096;

struct freeBytes {
  void operator()(unsigned char* p) const { std::free(p); }
};
using buffer = std::unique_ptr<unsigned char[], freeBytes>;

buffer allocate(size_t size) {
  void* p = nullptr;
  if (posix_memalign(&p, pageSize, size) != 0) {
    std::fprintf(stderr, "benchfloor: out of memory\n");
    std::exit(1);
  }
  return buffer(static_cast<unsigned char*>(p));
}

class descriptor {
 public:
  explicit descriptor(const char* name) : d_fd(::open(name, O_RDONLY | O_CLOEXEC)) {}
  ~descriptor() {
    if (d_fd >= 0) ::close(d_fd);
  }
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  int fd() const { return d_fd; }

 private:
  int d_fd;
};

// Reads up to n bytes into buf; returns how many were read, or -1.
ssize_t readUpTo(int fd, unsigned char* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, buf + got, n - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

void complain(const char* name) {
  std::fprintf(stderr, "benchfloor: %s: %s\n", name, std::strerror(errno));
}

// Writes n bytes of buf as NAME.wav: a temporary file created exclusively
// beside it, filled, closed and renamed into place.  Returns false on error.
bool writeBeside(const char* name, const unsigned char* buf, size_t n) {
  const std::string out = std::string(name) + ".wav";
  const std::string::size_type slash = out.rfind('/');
  const std::string temp = (slash == std::string::npos ? std::string() : out.substr(0, slash + 1)) +
                           ".benchfloor-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, buf + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  const bool closed = ::close(fd) == 0;
  if (done < n || !closed || ::rename(temp.c_str(), out.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// Reads files first, first + step, ... as the mode says, and renames each
// into renameTo (a folder and '/') where it is given; returns the exit status.
int readFiles(const std::string& mode, size_t audioBytes, char** files, int count, int first, int step,
              const std::string& renameTo = "") {
  const bool whole = mode == "whole" || mode == "write";
  size_t capacity = mode == "head4k" || mode == "rename4k" ? smallHeadBytes : headBytes;
  buffer buf = allocate(capacity);
  unsigned long long total = 0;
  for (int i = first; i < count; i += step) {
    const char* name = files[i];
    descriptor file(name);
    if (file.fd() < 0) {
      complain(name);
      continue;
    }
    size_t want = capacity;
    if (whole) {
      struct stat st;
      if (::fstat(file.fd(), &st) != 0) {
        complain(name);
        continue;
      }
      want = static_cast<size_t>(st.st_size);
      if (want > capacity) {
        capacity = want;
        buf = allocate(capacity);
      }
    }
    const ssize_t n = readUpTo(file.fd(), buf.get(), want);
    if (n < 0) {
      complain(name);
      continue;
    }
    total += static_cast<unsigned long long>(n);
    if (audioBytes && !writeBeside(name, buf.get(), std::min(audioBytes, static_cast<size_t>(n))))
      complain(name);
    if (!renameTo.empty()) {
      const char* slash = std::strrchr(name, '/');
      const std::string to = renameTo + (slash ? slash + 1 : name);
      if (::renameat2(AT_FDCWD, name, AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) complain(name);
    }
  }
  // Keep the reads from being thought useless.
  return total == 0 && count > first ? 1 : 0;
}

// head4k in `processes` children at once; fails when one of them does.
int readInParallel(char** files, int count, int processes) {
  for (int k = 0; k < processes; ++k) {
    const pid_t pid = ::fork();
    if (pid < 0) {
      complain("fork");
      return 1;
    }
    if (pid == 0) ::_exit(readFiles("head4k", 0, files, count, k, processes));
  }
  int status = 0, failed = 0;
  while (::wait(&status) > 0)
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = 1;
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "head" && mode != "head4k" && mode != "whole" &&
      !((mode == "write" || mode == "parallel" || mode == "rename4k") && argc > 2)) {
    std::fprintf(stderr, "usage: benchfloor head|head4k|whole FILE... | write BYTES FILE... | "
                         "rename4k DIR FILE... | parallel PROCESSES FILE...\n");
    return 2;
  }
  if (mode == "parallel") {
    const int processes = std::atoi(argv[2]);
    if (processes < 1 || processes > 1024) {
      std::fprintf(stderr, "benchfloor: parallel: 1 to 1024 processes\n");
      return 2;
    }
    return readInParallel(argv + 3, argc - 3, std::min(processes, std::max(argc - 3, 1)));
  }
  const size_t audioBytes = mode == "write" ? std::strtoull(argv[2], nullptr, 10) : 0;
  const int first = mode == "write" || mode == "rename4k" ? 3 : 2;
  if (mode == "rename4k") ::mkdir(argv[2], 0777);
  return readFiles(mode, audioBytes, argv + first, argc - first, 0, 1,
                   mode == "rename4k" ? std::string(argv[2]) + "/" : "");
}
