#include "fileImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

#include "exceptions.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif
#ifdef ORVANE_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// Under AddressSanitizer the bytes of the buffer that hold nothing of this
// file yet (never read, or left from an earlier file) are marked
// unaddressable, so that reading one is reported like a read past the
// buffer.  Only a window after the loaded bytes is marked: marking a huge
// buffer whole would cost an eighth of its size in shadow memory.
constexpr size_t hiddenWindow = 4 * 1024 * 1024;

void hideBytes(unsigned char* p, size_t n) {
#ifdef ORVANE_ASAN
  if (p && n) ASAN_POISON_MEMORY_REGION(p, n < hiddenWindow ? n : hiddenWindow);
#else
  (void)p;
  (void)n;
#endif
}
void showBytes(unsigned char* p, size_t n) {
#ifdef ORVANE_ASAN
  if (p && n) ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
  (void)p;
  (void)n;
#endif
}

// The first read covers the head of most camera files: SOI, APP0 and an
// EXIF APP1 with a small thumbnail.  After it each read at least doubles
// what is loaded, up to steps of 1 MiB, so a larger APP1 costs one more read
// of about its own size (not a megabyte), and a walk through the whole file
// still takes few system calls.  Copying bytes nobody looks at is most of
// what reading a photograph's header costs.
constexpr size_t firstChunk = 16 * 1024;
constexpr size_t laterChunk = 1024 * 1024;

// Buffers larger than this are released rather than kept for the next file.
constexpr size_t largestSpare = 256 * 1024 * 1024;

constexpr size_t bufferAlignment = 4096;

unsigned char* allocateBuffer(size_t size) {
  void* p = nullptr;
  if (posix_memalign(&p, bufferAlignment, size) != 0) return nullptr;
  return static_cast<unsigned char*>(p);
}

// The buffer of the last closed image, kept for the next one.
struct spareBuffer {
  std::unique_ptr<unsigned char[], fileImage::freeBytes> buf;
  size_t capacity = 0;
};

spareBuffer& spare() {
  static spareBuffer s;
  return s;
}

int refuseNonRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

}  // namespace

void fileImage::freeBytes::operator()(unsigned char* p) const { std::free(p); }

fileImage::~fileImage() {
  closeFd();
  spareBuffer& s = spare();
  if (fi_buf && fi_capacity <= largestSpare && fi_capacity > s.capacity) {
    s.buf = std::move(fi_buf);
    s.capacity = fi_capacity;
  }
}

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
    spareBuffer& s = spare();
    if (s.buf && s.capacity >= fi_size) {
      fi_buf = std::move(s.buf);
      fi_capacity = s.capacity;
      s.capacity = 0;
    } else {
      s.buf.reset();  // too small for this file: release it first
      s.capacity = 0;
      // Not initialised: pages are touched only as bytes are read.
      fi_buf.reset(allocateBuffer(fi_size));
      if (!fi_buf) {
        closeFd();
        fi_size = 0;
        return ENOMEM;
      }
      fi_capacity = fi_size;
    }
    hideBytes(fi_buf.get(), fi_capacity);
  }
  return 0;
}

size_t fileImage::ensure(size_t end) {
  if (end > fi_size) end = fi_size;
  if (end <= fi_loaded || fi_fd < 0) return fi_loaded;
  // Read ahead so that a walk through the file takes few system calls.
  size_t step = fi_loaded < firstChunk ? firstChunk : fi_loaded;
  if (step > laterChunk) step = laterChunk;
  size_t target = fi_loaded + step;
  if (target < end) target = end;
  if (target > fi_size) target = fi_size;
  showBytes(fi_buf.get() + fi_loaded, target - fi_loaded);
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
  hideBytes(fi_buf.get() + fi_loaded, fi_capacity - fi_loaded);
  return fi_loaded;
}
