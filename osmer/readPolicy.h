// readPolicy: how far a file image reads, and whether storage is slow.
//
// Two decisions that tuning changes and tests replace (derive and
// override), kept apart from the bookkeeping of the file image:
//
//  - Reading onward.  An image walked from start to end (readOnward) reads
//    twice as far each time a read goes on where the last one ended, up to
//    1 MiB, so that a walk through the whole file takes few system calls.
//  - Slow storage.  A file's first read asks the kernel for bytes that are
//    in the page cache only (RWF_NOWAIT): when they are not, the storage is
//    slow (a cold disk, a network file system), and asking for the heads of
//    the next photographs ahead (lookAhead) pays.  Where the kernel cannot
//    tell (EOPNOTSUPP: NFS, FUSE, FAT), reading ahead is assumed to pay,
//    but for file systems held in memory (tmpfs, ramfs), which are never
//    slow: their type (fstatfs) is looked up once per file system.  Once
//    storage has shown itself slow, no read asks again.
#ifndef ORVANE_OSMER_READPOLICY_H
#define ORVANE_OSMER_READPOLICY_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "orvaneExport.h"

class ORVANE_EXPORT readPolicy {
 public:
  readPolicy() = default;
  virtual ~readPolicy() = default;
  readPolicy(const readPolicy&) = delete;
  readPolicy& operator=(const readPolicy&) = delete;

  // The policy that file images follow unless they are given another.
  static readPolicy& standard();

  // A file's last read: the page after it, and its length in pages.
  struct lastRead {
    size_t end = 0;
    size_t pages = 0;
  };
  // How many pages to read at page first, where the asked pages (one run
  // of missing pages) are needed, for an image that is walked onward or
  // not.  At least asked; the image reads no further than the run of
  // missing pages and the file go.
  virtual size_t pagesToRead(size_t first, size_t asked, bool onward, const lastRead& last) const;

  // A file's first read: as much of the n bytes at `at` as the page cache
  // holds, while the policy still asks (else -1, and the image reads
  // them as any other).  st is the file's status when it was opened.
  virtual ssize_t firstRead(int fd, const struct stat& st, unsigned char* p, size_t n, size_t at);
  // Whether storage has shown itself slow.
  virtual bool slow() const { return rp_slow; }
  // Whether asking ahead for the head of the file at fd is worth its
  // system calls.
  virtual bool worthForeseeing(int fd, const struct stat& st);

 private:
  bool memoryBacked(int fd, dev_t dev);

  bool rp_slow = false;
  bool rp_asking = true;  // the first reads still ask
  // File systems whose type was looked up, and whether each is held in
  // memory; a few are kept, the oldest replaced.
  static constexpr size_t keptFileSystems = 8;
  struct fileSystem {
    dev_t dev;
    bool memory;
  } rp_fileSystems[keptFileSystems] = {};
  size_t rp_known = 0, rp_replace = 0;
};

#endif
