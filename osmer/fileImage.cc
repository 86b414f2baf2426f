#include "fileImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
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
// buffer.  The whole buffer is marked when a file takes it: pages are loaded
// anywhere in it, not only after a prefix.
void hideBytes(unsigned char* p, size_t n) {
#ifdef ORVANE_ASAN
  if (p && n) ASAN_POISON_MEMORY_REGION(p, n);
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

constexpr size_t pageSize = 4096;

// The longest read a walk through the file grows to.
constexpr size_t longestOnwardRead = 256;  // pages

// Buffers larger than this are released rather than kept for the next file.
constexpr size_t largestSpare = 256 * 1024 * 1024;

unsigned char* allocateBuffer(size_t size) {
  void* p = nullptr;
  if (posix_memalign(&p, pageSize, size) != 0) return nullptr;
  return static_cast<unsigned char*>(p);
}

// The buffer of the last closed image and its page map, kept for the next one.
struct spareBuffer {
  std::unique_ptr<unsigned char[], fileImage::freeBytes> buf;
  size_t capacity = 0;
  std::vector<uint64_t> pages;
};

spareBuffer& spare() {
  static spareBuffer s;
  return s;
}

int refuseNonRegular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return 0;
  return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
}

size_t pagesOf(size_t bytes) { return bytes / pageSize + (bytes % pageSize != 0); }

}  // namespace

static_assert(byteSource::pageSize == pageSize, "one page size");

void fileImage::freeBytes::operator()(unsigned char* p) const { std::free(p); }

size_t fileImage::roundedCapacity(size_t size) {
  // An eighth of the largest power of two not above the size, and at least
  // a page: at most 12.5 % more than the file, and files of about the same
  // size get the same capacity.
  size_t top = pageSize;
  while (top <= size / 2) top *= 2;
  size_t step = top / 8 < pageSize ? pageSize : top / 8;
  if (size > std::numeric_limits<size_t>::max() - step) return size;
  return (size + step - 1) / step * step;
}

fileImage::~fileImage() {
  closeFd();
  spareBuffer& s = spare();
  if (fi_buf && fi_capacity <= largestSpare && fi_capacity > s.capacity) {
    s.buf = std::move(fi_buf);
    s.capacity = fi_capacity;
    s.pages = std::move(fi_pages);
  }
}

void fileImage::closeFd() {
  if (fi_fd >= 0) ::close(fi_fd);
  fi_fd = -1;
}

namespace {

// Opens a regular file for reading, or returns -1 with errno set.  Looks
// before opening: opening a FIFO or a device can block or act.
int openRegular(const char* name) {
  struct stat st;
  if (::stat(name, &st) != 0) return -1;
  if (int e = refuseNonRegular(st)) {
    errno = e;
    return -1;
  }
  return ::open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

// The file foreseen to be opened next, already open.
struct foreseenFile {
  std::string name;
  int fd = -1;
  ~foreseenFile() { drop(); }
  void drop() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

foreseenFile& foreseen() {
  static foreseenFile f;
  return f;
}

}  // namespace

void fileImage::foresee(const char* name) {
  foreseenFile& f = foreseen();
  f.drop();
  f.fd = openRegular(name);
  if (f.fd < 0) return;
  f.name = name;
  ::posix_fadvise(f.fd, 0, pageSize, POSIX_FADV_WILLNEED);
}

int fileImage::open(const char* name) {
  foreseenFile& f = foreseen();
  int fd;
  if (f.fd >= 0 && f.name == name) {
    fd = f.fd;
    f.fd = -1;
  } else {
    f.drop();
    fd = openRegular(name);
    if (fd < 0) return errno;
  }
  fi_fd = fd;
  struct stat st;
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
  fi_openSize = fi_size;
  bs_complete = fi_size == 0;
  if (fi_size) {
    spareBuffer& s = spare();
    if (s.buf && s.capacity >= fi_size) {
      fi_buf = std::move(s.buf);
      fi_capacity = s.capacity;
      fi_pages = std::move(s.pages);
      s.capacity = 0;
    } else {
      s.buf.reset();  // too small for this file: release it first
      s.capacity = 0;
      // Not initialised: pages are touched only as bytes are read.
      const size_t capacity = roundedCapacity(fi_size);
      fi_buf.reset(allocateBuffer(capacity));
      if (!fi_buf) {
        closeFd();
        fi_size = 0;
        return ENOMEM;
      }
      fi_capacity = capacity;
    }
    fi_pages.assign(pagesOf(fi_size) / 64 + 1, 0);
    bs_pages = fi_pages.data();
    hideBytes(fi_buf.get(), fi_capacity);
  }
  return 0;
}

byteReader fileImage::reader(size_t pos, size_t n) {
  if (pos > fi_size) pos = fi_size;
  if (n > fi_size - pos) n = fi_size - pos;
  return byteReader(fi_buf.get() + pos, n, this, pos);
}

void fileImage::load(size_t pos, size_t n) {
  if (pos >= fi_size || n == 0) return;
  if (n > fi_size - pos) n = fi_size - pos;
  need(pos, n);
}

size_t fileImage::ensure(size_t end) {
  load(0, end);
  size_t page = 0;
  while (page < pagesOf(fi_size) && present(page)) ++page;
  return page * pageSize < fi_size ? page * pageSize : fi_size;
}

void fileImage::fetch(size_t pos, size_t n) {
  const size_t end = pagesOf(fi_capacity);
  size_t first = pos / pageSize;
  const size_t last = (pos + n - 1) / pageSize;
  if (last >= end) return;  // not part of this buffer: no reader has such a span
  // Each run of missing pages takes one read.
  while (first <= last) {
    if (present(first)) {
      ++first;
      continue;
    }
    size_t runEnd = first;
    while (runEnd < last && !present(runEnd + 1)) ++runEnd;
    if (fi_onward && first == fi_lastEnd) {
      // Going on where the last read ended: read ahead, past what is asked,
      // as far as the next loaded page.
      size_t ahead = 2 * fi_lastPages;
      if (ahead > longestOnwardRead) ahead = longestOnwardRead;
      const size_t limit = pagesOf(fi_size);
      while (runEnd + 1 - first < ahead && runEnd + 1 < limit && !present(runEnd + 1)) ++runEnd;
    }
    readPages(first, runEnd);
    fi_lastEnd = runEnd + 1;
    fi_lastPages = runEnd + 1 - first;
    first = runEnd + 1;
  }
}

void fileImage::readPages(size_t first, size_t last) {
  const size_t from = first * pageSize;
  size_t to = (last + 1) * pageSize;
  if (to > fi_capacity) to = fi_capacity;
  size_t want = to < fi_size ? to : fi_size;
  if (want < from) want = from;
  size_t done = from;
  showBytes(fi_buf.get() + from, to - from);
  bool shrank = false;
  while (done < want && fi_fd >= 0) {
    ssize_t n = ::pread(fi_fd, fi_buf.get() + done, want - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      hideBytes(fi_buf.get() + from, to - from);
      throw file_error(" unable to read");
    }
    fi_read += want - done;
    if (n == 0) {  // the file shrank under us: it ends here
      fi_size = done;
      shrank = true;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // Bytes the file no longer holds read as zero; past the size it had when
  // it was opened they stay hidden, so that a read past the end is still
  // reported.
  if (done < to) std::memset(fi_buf.get() + done, 0, to - done);
  if (fi_openSize < to) hideBytes(fi_buf.get() + fi_openSize, to - fi_openSize);
  markLoaded(first, last, shrank);
}

void fileImage::markLoaded(size_t first, size_t last, bool recount) {
  // The pages were all missing (a read covers a run of missing pages).
  for (size_t page = first; page <= last;) {
    if ((page & 63) == 0 && last - page >= 63) {
      fi_pages[page >> 6] = ~uint64_t(0);
      page += 64;
    } else {
      fi_pages[page >> 6] |= uint64_t(1) << (page & 63);
      ++page;
    }
  }
  const size_t from = first * pageSize, to = (last + 1) * pageSize;
  if (!recount && from < fi_size) fi_loaded += (to < fi_size ? to : fi_size) - from;
  if (recount) {  // the size went down: count again what lies inside it
    fi_loaded = 0;
    for (size_t page = 0; page < pagesOf(fi_size); ++page)
      if (present(page)) {
        const size_t at = page * pageSize;
        fi_loaded += fi_size - at < pageSize ? fi_size - at : pageSize;
      }
  }
  // The descriptor stays open even then: chronel -m sets the times through it.
  if (fi_loaded >= fi_size) bs_complete = true;
}
