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
// The tools handle one file at a time, so a closed image hands its buffer on
// to the next one that fits in it: a fresh buffer per file would cost a new
// mapping, page faults and an unmapping for every large photograph, more than
// reading its header segments.  Capacities are rounded up (to an eighth of
// the size's power of two), so that photographs of similar sizes fit in each
// other's buffers.  Bytes not loaded are never exposed through a reader.
#ifndef ORVANE_OSMER_FILEIMAGE_H
#define ORVANE_OSMER_FILEIMAGE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "byteReader.h"
#include "orvaneExport.h"
#include "regularFile.h"

class ORVANE_EXPORT fileImage : private byteSource {
 public:
  fileImage() = default;
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
  // Whether the storage has shown itself slow: a file's first bytes were
  // not in the page cache (or the kernel cannot tell, but for file systems
  // held in memory).  Only then is
  // foreseeing worth its system calls.
  static bool storageIsSlow();

  // Loads the n bytes at pos, as far as they lie inside the file.  Throws
  // file_error(" unable to read") when they cannot be read or held in
  // memory, and misc_error when the file turns out to end before them.
  void load(size_t pos, size_t n);
  void loadAll() { load(0, fi_size); }
  // For a walk from start to end: each read that goes on where the last
  // one ended reads twice as far, up to 1 MiB, so that a walk through the
  // whole file takes few system calls.
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
  const unsigned char* data() const { return fi_buf.bytes(); }
  // The descriptor the bytes are read from, open for the image's life (-1
  // after a failed open), so that a caller can act on the very file read.
  int fd() const { return fi_fd; }
  // A reader over the n bytes at pos (clipped to the file), which loads
  // what it reads.
  byteReader reader(size_t pos, size_t n);
  byteReader reader() { return reader(0, fi_size); }

  // Smallest capacity that a buffer for size bytes is given.
  static size_t roundedCapacity(size_t size);

  // Address space for a file's bytes, page-aligned; memory is committed
  // only where bytes are written.
  class buffer {
   public:
    buffer() = default;
    ~buffer() { release(); }
    buffer(buffer&& o) noexcept : b_bytes(o.b_bytes), b_capacity(o.b_capacity) {
      o.b_bytes = nullptr;
      o.b_capacity = 0;
    }
    buffer& operator=(buffer&& o) noexcept;
    buffer(const buffer&) = delete;
    buffer& operator=(const buffer&) = delete;
    // Reserves up to capacity bytes; when that much address space cannot
    // be had, as much as can (at least a page).  False when none.
    bool reserve(size_t capacity);
    void release();
    unsigned char* bytes() const { return b_bytes; }
    size_t capacity() const { return b_capacity; }

   private:
    unsigned char* b_bytes = nullptr;
    size_t b_capacity = 0;
  };

 private:
  void loadMissing(size_t pos, size_t n) override;
  void loadPages(size_t first, size_t last);
  void markLoaded(size_t first, size_t last);
  void shrink(size_t size);
  [[noreturn]] void shrunk() const;
  void closeFd();
  // A zeroed page map of at least `words` words: the last image's, or new.
  bool takePageMap(size_t words);

  regularFile fi_file;
  int fi_fd = -1;  // fi_file's
  size_t fi_size = 0;
  size_t fi_loaded = 0;    // bytes of the file in loaded pages
  size_t fi_read = 0;      // bytes asked for by pread
  bool fi_onward = false;  // see readOnward
  size_t fi_lastEnd = 0;   // the page after the last read, and its length in pages
  size_t fi_lastPages = 0;
  // The buffer starts on a page boundary: on some processors the kernel's
  // copy into a buffer that starts 16 bytes past a 32-byte boundary (where
  // a plain large allocation lands) takes several times as long.
  buffer fi_buf;
  // One bit per page of the file, zeroed by the C library: a large map is
  // handed out as fresh pages that take memory only where a bit is set, so
  // that a sparse file of terabytes costs what is read of it, not 32 MB per
  // terabyte.
  struct freeWords {
    void operator()(uint64_t* p) const;
  };
  std::unique_ptr<uint64_t[], freeWords> fi_pages;
  size_t fi_words = 0;  // in fi_pages
};

#endif
