// fileImage: the bytes of one file, read on demand into one fixed buffer.
//
// The buffer is sized once from fstat, so pointers into it stay valid for the
// object's life; bytes are read only as far as a caller asks.  A file that
// shrinks while we read it simply ends earlier.  Non-regular files
// (directories, FIFOs, devices) are refused before anything is read from them.
//
// The tools handle one file at a time, so a closed image hands its buffer on
// to the next one that fits in it: a fresh buffer per file would cost a new
// mapping, page faults and an unmapping for every large photograph, more than
// reading its header segments.  Bytes past loaded() are never exposed.
#ifndef ORVANE_OSMER_FILEIMAGE_H
#define ORVANE_OSMER_FILEIMAGE_H

#include <cstddef>
#include <memory>

#include "byteReader.h"
#include "orvaneExport.h"

class ORVANE_EXPORT fileImage {
 public:
  fileImage() = default;
  ~fileImage();
  fileImage(const fileImage&) = delete;
  fileImage& operator=(const fileImage&) = delete;

  // Opens the file; returns 0 or the errno that explains the failure.
  int open(const char* name);

  // Makes at least min(end, size()) bytes available; returns how many are.
  // Throws file_error(" unable to read") on an I/O error.
  size_t ensure(size_t end);
  // Reads the whole file.
  size_t ensureAll() { return ensure(fi_size); }

  size_t size() const { return fi_size; }
  size_t loaded() const { return fi_loaded; }
  const unsigned char* data() const { return fi_buf.get(); }
  // The descriptor the bytes are read from, open for the image's life (-1
  // after a failed open), so that a caller can act on the very file read.
  int fd() const { return fi_fd; }
  byteReader reader() const { return byteReader(fi_buf.get(), fi_loaded); }

  // Releases an image buffer (they come from posix_memalign).
  struct freeBytes {
    void operator()(unsigned char* p) const;
  };

 private:
  void closeFd();

  int fi_fd = -1;
  size_t fi_size = 0;
  size_t fi_loaded = 0;
  size_t fi_capacity = 0;  // size of fi_buf, at least fi_size
  // The buffer starts on a page boundary: on some processors the kernel's
  // copy into a buffer that starts 16 bytes past a 32-byte boundary (where
  // a plain large allocation lands) takes several times as long.
  std::unique_ptr<unsigned char[], freeBytes> fi_buf;
};

#endif
