#include "fileImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <new>

#include "exceptions.h"

namespace {

// The first read covers the header segments of a camera file (an EXIF APP1
// is at most 64 KiB); later reads go in larger steps.
constexpr size_t firstChunk = 64 * 1024;
constexpr size_t laterChunk = 1024 * 1024;

int refuseNonRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

}  // namespace

fileImage::~fileImage() { closeFd(); }

void fileImage::closeFd() {
  if (fi_fd >= 0) ::close(fi_fd);
  fi_fd = -1;
}

int fileImage::open(const char* name) {
  // Look before opening: opening a FIFO or a device can block or act.
  struct stat st;
  if (::stat(name, &st) != 0) return errno;
  if (int e = refuseNonRegular(st)) return e;

  int fd = ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  fi_fd = fd;
  // The name may have been replaced between stat and open.
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    closeFd();
    return e;
  }
  if (int e = refuseNonRegular(st)) {
    closeFd();
    return e;
  }
  if (st.st_size < 0 ||
      static_cast<uintmax_t>(st.st_size) > std::numeric_limits<size_t>::max() / 2) {
    closeFd();
    return EFBIG;
  }
  fi_size = static_cast<size_t>(st.st_size);
  if (fi_size) {
    // Not value-initialised: pages are touched only as bytes are read.
    fi_buf.reset(new (std::nothrow) unsigned char[fi_size]);
    if (!fi_buf) {
      closeFd();
      fi_size = 0;
      return ENOMEM;
    }
  }
  return 0;
}

size_t fileImage::ensure(size_t end) {
  if (end > fi_size) end = fi_size;
  if (end <= fi_loaded || fi_fd < 0) return fi_loaded;
  // Read ahead so that a walk through the file takes few system calls.
  size_t step = fi_loaded < firstChunk ? firstChunk : laterChunk;
  size_t target = fi_loaded + step;
  if (target < end) target = end;
  if (target > fi_size) target = fi_size;
  while (fi_loaded < target) {
    ssize_t n = ::pread(fi_fd, fi_buf.get() + fi_loaded, target - fi_loaded,
                        static_cast<off_t>(fi_loaded));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw file_error(" unable to read");
    }
    if (n == 0) {  // the file shrank under us: it ends here
      fi_size = fi_loaded;
      break;
    }
    fi_loaded += static_cast<size_t>(n);
  }
  if (fi_loaded == fi_size) closeFd();
  return fi_loaded;
}
