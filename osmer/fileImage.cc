#include "fileImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/uio.h>
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

constexpr size_t pageSize = byteSource::pageSize;

// The longest read a walk through the file grows to.
constexpr size_t longestOnwardRead = 256;  // pages

// Buffers larger than this are released rather than kept for the next file.
constexpr size_t largestSpare = 256 * 1024 * 1024;

// Under the sanitizer, so much of a buffer at most is marked (its shadow
// costs an eighth of it): as much as a buffer kept for the next file holds
// of the last one; a larger buffer is new, and holds nothing of another.
constexpr size_t largestHidden = largestSpare;

// An image holds at most half the machine's memory: a file larger than
// that (a sparse file of 100 GB) cannot be held, and reading on would only
// end with the process killed for lack of memory.  Looked up the first
// time an image grows past a size that every machine can hold.
constexpr size_t alwaysHeld = 256 * 1024 * 1024;
size_t largestHeld() {
  static const size_t most = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return std::numeric_limits<size_t>::max();
    const uint64_t half = uint64_t(pages) * uint64_t(page) / 2;
    return half > std::numeric_limits<size_t>::max() ? std::numeric_limits<size_t>::max()
                                                     : static_cast<size_t>(half);
  }();
  return most;
}

// The buffer of the last closed image, kept for the next one.
fileImage::buffer& spare() {
  static fileImage::buffer s;
  return s;
}

// Its page map too, up to this many words (files up to 16 GB): a map of
// more than 1 KB (files over 32 MB) is past the C library's cache of small
// blocks, and allocating it afresh for every photograph cost 7% of
// chronel's instructions.  A larger map is zeroed on demand instead.
constexpr size_t largestSpareWords = 64 * 1024;
struct spareMap {
  uint64_t* words = nullptr;
  size_t count = 0;
  ~spareMap() {  // an image closed after this takes nothing back
    std::free(words);
    words = nullptr;
    count = std::numeric_limits<size_t>::max();
  }
};
spareMap& spareWords() {
  static spareMap s;
  return s;
}

size_t pagesOf(size_t bytes) { return bytes / pageSize + (bytes % pageSize != 0); }

}  // namespace

fileImage::buffer& fileImage::buffer::operator=(buffer&& o) noexcept {
  if (this != &o) {
    release();
    std::swap(b_bytes, o.b_bytes);
    std::swap(b_capacity, o.b_capacity);
  }
  return *this;
}

bool fileImage::buffer::reserve(size_t capacity) {
  release();
  // No memory is set aside: pages are committed as they are written, so a
  // 100 GB file costs only the pages read of it.  Where the address space
  // is short (a 32-bit process, a ulimit), the file's first part is held.
  for (size_t want = capacity; want >= pageSize; want = want / 2 / pageSize * pageSize) {
    void* p = ::mmap(nullptr, want, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      b_bytes = static_cast<unsigned char*>(p);
      b_capacity = want;
      return true;
    }
  }
  return false;
}

void fileImage::buffer::release() {
  if (!b_bytes) return;
  showBytes(b_bytes, b_capacity < largestHidden ? b_capacity : largestHidden);
  ::munmap(b_bytes, b_capacity);
  b_bytes = nullptr;
  b_capacity = 0;
}

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

void fileImage::freeWords::operator()(uint64_t* p) const { std::free(p); }

fileImage::~fileImage() {
  closeFd();
  buffer& s = spare();
  if (fi_buf.capacity() <= largestSpare && fi_buf.capacity() > s.capacity()) s = std::move(fi_buf);
  spareMap& m = spareWords();
  if (fi_pages && fi_words <= largestSpareWords && fi_words > m.count) {
    std::free(m.words);
    m.words = fi_pages.release();
    m.count = fi_words;
  }
}

bool fileImage::takePageMap(size_t words) {
  spareMap& m = spareWords();
  if (m.words && m.count >= words) {
    fi_pages.reset(m.words);
    fi_words = m.count;
    m.words = nullptr;
    m.count = 0;
    std::memset(fi_pages.get(), 0, words * sizeof(uint64_t));
    return true;
  }
  fi_pages.reset(static_cast<uint64_t*>(std::calloc(words, sizeof(uint64_t))));
  fi_words = fi_pages ? words : 0;
  return fi_pages != nullptr;
}

void fileImage::closeFd() {
  fi_file.close();
  fi_fd = -1;
}

namespace {

// What the storage has shown of itself.  A file's first read asks the
// kernel for bytes that are in the page cache only (RWF_NOWAIT): when they
// are not, the storage is slow (a cold disk, a network file system), and
// reading the next photographs' heads ahead pays.  Where the kernel cannot
// tell, reading ahead is assumed to pay, but for file systems held in
// memory (tmpfs, ramfs), which are never slow.
struct storageView {
  bool slow = false;
  bool asked = true;  // the first reads still ask
} storage;

// Which file systems are held in memory, looked up once each (fstatfs) and
// kept by device number: photographs come from a few file systems.
class memoryBacked {
 public:
  // Whether the file system of fd, whose device is dev, is held in memory.
  bool holds(int fd, dev_t dev) {
    for (size_t k = 0; k < mb_count; ++k)
      if (mb_known[k].dev == dev) return mb_known[k].memory;
    struct statfs fs;
    const bool memory = ::fstatfs(fd, &fs) == 0 &&
                        (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
    mb_known[mb_count < kept ? mb_count++ : (mb_next++ % kept)] = {dev, memory};
    return memory;
  }
  // Whether dev is known to be held in memory, without looking it up.
  bool known(dev_t dev) const {
    for (size_t k = 0; k < mb_count; ++k)
      if (mb_known[k].dev == dev) return mb_known[k].memory;
    return false;
  }

 private:
  static constexpr size_t kept = 8;
  struct fileSystem {
    dev_t dev;
    bool memory;
  } mb_known[kept] = {};
  size_t mb_count = 0, mb_next = 0;
} memoryFileSystems;

// The first read of a file, through the page cache only; the bytes that
// were there, or -1 (errno EAGAIN: none were).
ssize_t readCached(int fd, dev_t dev, unsigned char* p, size_t n, size_t at) {
  iovec v = {p, n};
  const ssize_t got = ::preadv2(fd, &v, 1, static_cast<off_t>(at), RWF_NOWAIT);
  // Short, EAGAIN, or an error by which the kernel says it cannot tell.
  if (got < static_cast<ssize_t>(n)) {
    if (got < 0 && errno == EOPNOTSUPP && memoryFileSystems.holds(fd, dev)) return -1;
    storage.asked = false;
    storage.slow = true;
  }
  return got;
}

}  // namespace

bool fileImage::storageIsSlow() { return storage.slow; }

void fileImage::foresee(const char* name) {
  regularFile file;
  if (file.open(name) != 0) return;
  if (memoryFileSystems.holds(file.fd(), file.status().st_dev)) return;
  ::posix_fadvise(file.fd(), 0, foreseenBytes, POSIX_FADV_WILLNEED);
}

int fileImage::open(const char* name) {
  if (int e = fi_file.open(name)) return e;
  fi_fd = fi_file.fd();
  const struct stat& st = fi_file.status();
  if (st.st_size < 0 ||
      static_cast<uintmax_t>(st.st_size) > std::numeric_limits<size_t>::max() / 2) {
    closeFd();
    return EFBIG;
  }
  fi_size = static_cast<size_t>(st.st_size);
  bs_size = fi_size;
  bs_complete = fi_size == 0;
  if (fi_size) {
    buffer& s = spare();
    if (s.capacity() >= fi_size) {
      fi_buf = std::move(s);
    } else {
      s.release();  // too small for this file: released first
      if (!fi_buf.reserve(roundedCapacity(fi_size))) {
        closeFd();
        fi_size = bs_size = 0;
        return ENOMEM;
      }
    }
    if (!takePageMap(pagesOf(fi_size) / 64 + 1)) {
      closeFd();
      fi_size = bs_size = 0;
      return ENOMEM;
    }
    bs_pages = fi_pages.get();
    const size_t cap = fi_buf.capacity();
    hideBytes(fi_buf.bytes(), cap < largestHidden ? cap : largestHidden);
  }
  return 0;
}

byteReader fileImage::reader(size_t pos, size_t n) {
  if (pos > fi_size) pos = fi_size;
  if (n > fi_size - pos) n = fi_size - pos;
  return byteReader(fi_buf.bytes() + pos, n, this, pos);
}

void fileImage::load(size_t pos, size_t n) {
  if (pos >= fi_size || n == 0) return;
  if (n > fi_size - pos) n = fi_size - pos;
  byteSource::load(pos, n);
}

void fileImage::loadMissing(size_t pos, size_t n) {
  if (pos >= fi_size) shrunk();
  const size_t end = n > fi_size - pos ? fi_size : pos + n;
  size_t first = pos / pageSize;
  const size_t last = (end - 1) / pageSize;
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
    loadPages(first, runEnd);
    fi_lastEnd = runEnd + 1;
    fi_lastPages = runEnd + 1 - first;
    first = runEnd + 1;
  }
  // The file may have been found shorter than the bytes asked for.
  if (pos > fi_size || n > fi_size - pos) shrunk();
}

void fileImage::loadPages(size_t first, size_t last) {
  const size_t from = first * pageSize;
  const size_t to = (last + 1) * pageSize;
  if (from >= fi_size) return;  // found shorter meanwhile
  const size_t want = to < fi_size ? to : fi_size;
  // A file larger than memory (or than the address space of a 32-bit
  // process) is read as far as it can be held.
  if (to > fi_buf.capacity() ||
      (fi_loaded + (want - from) > alwaysHeld && fi_loaded + (want - from) > largestHeld()))
    throw file_error(" unable to read", ENOMEM);
  unsigned char* const buf = fi_buf.bytes();
  showBytes(buf + from, to - from);
  size_t done = from;
  if (fi_read == 0 && storage.asked && !memoryFileSystems.known(fi_file.status().st_dev)) {
    const ssize_t n = readCached(fi_fd, fi_file.status().st_dev, buf + done, want - done, done);
    if (n > 0) {
      fi_read += static_cast<size_t>(n);
      done += static_cast<size_t>(n);
    }
  }
  while (done < want) {
    const ssize_t n = ::pread(fi_fd, buf + done, want - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      hideBytes(buf + from, to - from);
      throw file_error(" unable to read");
    }
    fi_read += want - done;
    if (n == 0) break;  // the file ends here now
    done += static_cast<size_t>(n);
  }
  // The rest of the last page holds no byte of the file: zero, and hidden.
  std::memset(buf + done, 0, to - done);
  hideBytes(buf + done, to - done);
  if (done < want) {
    if (done > from) markLoaded(first, (done - 1) / pageSize);
    // A read at or past the end finds nothing: where the file ends now
    // may lie before this read.
    struct stat st;
    const bool known = ::fstat(fi_fd, &st) == 0 && st.st_size >= 0 &&
                       static_cast<uintmax_t>(st.st_size) < done;
    shrink(known ? static_cast<size_t>(st.st_size) : done);
    return;
  }
  markLoaded(first, last);
}

void fileImage::markLoaded(size_t first, size_t last) {
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
  fi_loaded += (to < fi_size ? to : fi_size) - from;
  // The descriptor stays open even then: chronel -m sets the times through it.
  if (fi_loaded >= fi_size) bs_complete = true;
}

void fileImage::shrink(size_t size) {
  fi_size = bs_size = size;
  // Count again what lies inside the new size.
  fi_loaded = 0;
  for (size_t page = 0; page < pagesOf(fi_size); ++page)
    if (present(page)) {
      const size_t at = page * pageSize;
      fi_loaded += fi_size - at < pageSize ? fi_size - at : pageSize;
    }
  bs_complete = fi_loaded >= fi_size;
}

void fileImage::shrunk() const {
  const std::string text =
      " is truncated: the file shrank to " + std::to_string(fi_size) + " bytes while it was read";
  throw misc_error("", text.c_str());
}
