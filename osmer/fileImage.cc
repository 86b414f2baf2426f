#include "fileImage.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>

#include "damageText.h"
#include "exceptions.h"

namespace {

constexpr size_t pageSize = byteSource::pageSize;

size_t pagesOf(size_t bytes) { return bytes / pageSize + (bytes % pageSize != 0); }

}  // namespace

fileImage::~fileImage() {
  fi_file.close();
  fi_pool.giveBuffer(fi_buf);
}

void fileImage::foresee(const char* name) {
  regularFile file;
  if (file.open(name) != 0 || !readPolicy::standard().worthForeseeing(file.fd(), file.status()))
    return;
  ::posix_fadvise(file.fd(), 0, foreseenBytes, POSIX_FADV_WILLNEED);
}

int fileImage::fail(int err) {
  fi_file.close();
  fi_size = bs_size = 0;
  return err;
}

int fileImage::open(const char* name) {
  if (int e = fi_file.open(name)) return e;
  const struct stat& st = fi_file.status();
  if (st.st_size < 0 ||
      static_cast<uintmax_t>(st.st_size) > std::numeric_limits<size_t>::max() / 2)
    return fail(EFBIG);
  fi_size = bs_size = static_cast<size_t>(st.st_size);
  bs_complete = fi_size == 0;
  if (fi_size) {
    if (!fi_pool.takeBuffer(fi_size, fi_buf) || !fi_pages.reset(pagesOf(fi_size))) return fail(ENOMEM);
    bs_pages = fi_pages.words();
    const size_t cap = fi_buf.capacity();
    hideBytes(fi_buf.bytes(), cap < bufferPool::largestHidden ? cap : bufferPool::largestHidden);
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
  // Each run of missing pages takes one read, as long as the policy says.
  while (first <= last) {
    if (fi_pages.present(first)) {
      ++first;
      continue;
    }
    const size_t asked = fi_pages.missingRun(first, last + 1 - first);
    const size_t want = fi_policy.pagesToRead(first, asked, fi_onward, fi_last);
    const size_t pages =
        want > asked ? fi_pages.missingRun(first, std::min(want, pagesOf(fi_size) - first)) : asked;
    loadPages(first, first + pages - 1);
    fi_last = {first + pages, pages};
    first += pages;
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
  const size_t held = fi_loaded + (want - from);
  if (to > fi_buf.capacity() || (held > bufferPool::alwaysHeld && held > fi_pool.largestHeld()))
    throw file_error(" unable to read", ENOMEM);
  unsigned char* const buf = fi_buf.bytes();
  showBytes(buf + from, to - from);
  size_t done = from;
  if (fi_read == 0) {
    const ssize_t n = fi_policy.firstRead(fi_file.fd(), fi_file.status(), buf + done, want - done, done);
    if (n > 0) {
      fi_read += static_cast<size_t>(n);
      done += static_cast<size_t>(n);
    }
  }
  while (done < want) {
    const ssize_t n = ::pread(fi_file.fd(), buf + done, want - done, static_cast<off_t>(done));
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
    const bool known = ::fstat(fi_file.fd(), &st) == 0 && st.st_size >= 0 &&
                       static_cast<uintmax_t>(st.st_size) < done;
    shrink(known ? static_cast<size_t>(st.st_size) : done);
    return;
  }
  markLoaded(first, last);
}

void fileImage::release(size_t pos, size_t n) {
  if (pos >= fi_size || n == 0) return;
  const size_t end = n > fi_size - pos ? fi_size : pos + n;
  // Whole pages only; the file's last page counts as whole.
  const size_t first = pagesOf(pos);
  size_t last = end == fi_size ? pagesOf(end) : end / pageSize;
  if (last > fi_buf.capacity() / pageSize) last = fi_buf.capacity() / pageSize;  // never loaded
  if (first >= last) return;
  for (size_t page = first; page < last; ++page)
    if (fi_pages.present(page)) {
      fi_pages.remove(page);
      const size_t at = page * pageSize;
      fi_loaded -= fi_size - at < pageSize ? fi_size - at : pageSize;
    }
  unsigned char* const from = fi_buf.bytes() + first * pageSize;
  ::madvise(from, (last - first) * pageSize, MADV_DONTNEED);
  hideBytes(from, (last - first) * pageSize);
  bs_complete = false;
}

void fileImage::markLoaded(size_t first, size_t last) {
  fi_pages.add(first, last);
  const size_t from = first * pageSize, to = (last + 1) * pageSize;
  fi_loaded += (to < fi_size ? to : fi_size) - from;
  // The descriptor stays open even then: chronel -m sets the times through it.
  if (fi_loaded >= fi_size) bs_complete = true;
}

void fileImage::shrink(size_t size) {
  fi_size = bs_size = size;
  fi_loaded = fi_pages.bytesPresent(fi_size);
  bs_complete = fi_loaded >= fi_size;
}

void fileImage::shrunk() const {
  throw damageText::truncated("the file shrank to " + std::to_string(fi_size) + " bytes while it was read");
}
