#include "readPolicy.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstdint>

namespace {

// The longest read a walk through the file grows to.
constexpr size_t longestOnwardRead = 256;  // pages

readPolicy standardPolicy;

}  // namespace

readPolicy& readPolicy::standard() { return standardPolicy; }

size_t readPolicy::pagesToRead(size_t first, size_t asked, bool onward, const lastRead& last) const {
  if (!onward || first != last.end) return asked;
  // Going on where the last read ended: read ahead, past what is asked.
  const size_t ahead = 2 * last.pages < longestOnwardRead ? 2 * last.pages : longestOnwardRead;
  return ahead > asked ? ahead : asked;
}

bool readPolicy::memoryBacked(int fd, dev_t dev) {
  for (size_t k = 0; k < rp_known; ++k)
    if (rp_fileSystems[k].dev == dev) return rp_fileSystems[k].memory;
  struct statfs fs;
  // The type is a 32-bit magic number, held in a signed word.
  const bool memory = ::fstatfs(fd, &fs) == 0 && (static_cast<uint32_t>(fs.f_type) == TMPFS_MAGIC ||
                                                   static_cast<uint32_t>(fs.f_type) == RAMFS_MAGIC);
  rp_fileSystems[rp_known < keptFileSystems ? rp_known++ : rp_replace++ % keptFileSystems] = {dev, memory};
  return memory;
}

ssize_t readPolicy::firstRead(int fd, const struct stat& st, unsigned char* p, size_t n, size_t at) {
  if (!rp_asking) return -1;
  // A file system known to be held in memory is not asked: it cannot tell.
  for (size_t k = 0; k < rp_known; ++k)
    if (rp_fileSystems[k].dev == st.st_dev && rp_fileSystems[k].memory) return -1;
  iovec v = {p, n};
  const ssize_t got = ::preadv2(fd, &v, 1, static_cast<off_t>(at), RWF_NOWAIT);
  // Short, EAGAIN, or an error by which the kernel says it cannot tell.
  if (got < static_cast<ssize_t>(n)) {
    if (got < 0 && errno == EOPNOTSUPP && memoryBacked(fd, st.st_dev)) return -1;
    rp_asking = false;
    rp_slow = true;
  }
  return got;
}

bool readPolicy::worthForeseeing(int fd, const struct stat& st) { return !memoryBacked(fd, st.st_dev); }
