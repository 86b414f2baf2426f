// fileImage: the bytes of one file, read on demand into one fixed buffer.
//
// The buffer is reserved once for the file's size (address space only:
// memory is committed page by page as bytes are read), so pointers into it
// stay valid for the object's life.  It is filled sparsely: the pages (4
// KiB, aligned) that a reader touches are read, and no others, so that
// looking at a photograph's header and EXIF directories does not read the
// segments between them, and a photograph larger than memory can still be
// dated.  Non-regular files (directories, FIFOs, devices) are refused
// without being opened (regularFile.h).
//
// A file that shrinks while it is read ends where a read finds its end: no
// byte past that is ever exposed, and asking for one throws a misc_error
// that says the file is truncated and where it ends now.  Bytes read before
// the cut are the file's own and stay.
//
// The image puts together four parts, each in its own file: regularFile
// opens the file, pageSet knows which pages are loaded, bufferPool lends
// the buffer and the page map (and takes them back for the next file), and
// readPolicy decides how far each read goes and whether storage is slow.
// Bytes not loaded are never exposed through a reader.
#ifndef ORVANE_OSMER_FILEIMAGE_H
#define ORVANE_OSMER_FILEIMAGE_H

#include <cstddef>
#include <cstdint>

#include "bufferPool.h"
#include "byteReader.h"
#include "orvaneExport.h"
#include "pageSet.h"
#include "readPolicy.h"
#include "regularFile.h"

class ORVANE_EXPORT fileImage : private byteSource {
 public:
  explicit fileImage(bufferPool& pool = bufferPool::shared(),
                     readPolicy& policy = readPolicy::standard())
      : fi_pool(pool), fi_policy(policy), fi_pages(pool) {}
  ~fileImage();
  fileImage(const fileImage&) = delete;
  fileImage& operator=(const fileImage&) = delete;

  // Opens the file; returns 0 or the errno that explains the failure.
  int open(const char* name);
  // Asks the kernel to read the head of a regular file that is to be
  // opened later, and keeps nothing of it: on a cold disk a photograph's
  // head is then read while others are parsed.  Failures are left for
  // that open() to report; a FIFO or device is not opened, and a file held
  // in memory (tmpfs) needs no hint.
  static void foresee(const char* name);
  static constexpr size_t foreseenBytes = 16 * 1024;
  // Whether the storage has shown itself slow (readPolicy): only then is
  // foreseeing worth its system calls.
  static bool storageIsSlow() { return readPolicy::standard().slow(); }

  // Loads the n bytes at pos, as far as they lie inside the file.  Throws
  // file_error(" unable to read") when they cannot be read or held in
  // memory, and misc_error when the file turns out to end before them.
  void load(size_t pos, size_t n);
  void loadAll() { load(0, fi_size); }
  // Lets the whole pages inside the n bytes at pos go: their memory is
  // given back, and a reader that looks at them again reads them again.
  // For data that a walk passes once and nothing points into.
  void release(size_t pos, size_t n);
  // For a walk from start to end: reads that go on where the last one
  // ended read further ahead (readPolicy).
  void readOnward() { fi_onward = true; }

  // The file's size: as it was opened, or where a read found it ending.
  size_t size() const { return fi_size; }
  // For a span checked against size() before: throws the misc_error of a
  // file found shorter while it was read when the file now ends before end.
  void requireSize(uint64_t end) const {
    if (end > fi_size) shrunk();
  }
  // How many bytes of the file the buffer holds.
  size_t loaded() const { return fi_loaded; }
  // How many bytes were asked of the kernel for this file.
  size_t bytesRead() const { return fi_read; }
  // The descriptor the bytes are read from, open for the image's life (-1
  // after a failed open), so that a caller can act on the very file read.
  int fd() const { return fi_file.fd(); }
  // The file's status as it was looked at when it was opened: the device
  // and inode of the very file fd reads.
  const struct stat& status() const { return fi_file.status(); }
  // A reader over the n bytes at pos (clipped to the file), which loads
  // what it reads.
  byteReader reader(size_t pos, size_t n);
  byteReader reader() { return reader(0, fi_size); }

  static size_t roundedCapacity(size_t size) { return bufferPool::roundedCapacity(size); }

 private:
  void loadMissing(size_t pos, size_t n) override;
  void loadPages(size_t first, size_t last);
  void markLoaded(size_t first, size_t last);
  void shrink(size_t size);
  [[noreturn]] void shrunk() const;
  int fail(int err);

  bufferPool& fi_pool;
  readPolicy& fi_policy;
  regularFile fi_file;
  size_t fi_size = 0;
  size_t fi_loaded = 0;    // bytes of the file in loaded pages
  size_t fi_read = 0;      // bytes asked for by pread
  bool fi_onward = false;  // see readOnward
  readPolicy::lastRead fi_last;
  imageBuffer fi_buf;
  pageSet fi_pages;
};

#endif
