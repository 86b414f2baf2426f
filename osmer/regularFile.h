// regularFile: a name opened for reading only when it names a regular file.
//
// Opening a FIFO or a device can block or act (a tape rewinds, a FIFO's
// writer is released), so the name is first opened for its path only
// (O_PATH, which opens nothing), that descriptor's file is looked at
// (fstat), and only a regular file is then opened for reading, through
// /proc/self/fd/N: that reopens the very file looked at, so a name replaced
// in between (by a FIFO, or a symbolic link to a device) is never opened.
// The path descriptor stays open beside the reading one, and both are
// closed with one system call, so that a file costs as many system calls
// as a look (stat) and an open did; /proc/self/fd itself is opened once,
// for the process's life.
//
// Where /proc is not mounted the name is looked at (stat) and then opened,
// and the file opened is looked at again: a FIFO or device swapped in
// between is then opened, though never read.
#ifndef ORVANE_OSMER_REGULARFILE_H
#define ORVANE_OSMER_REGULARFILE_H

#include <sys/stat.h>

#include "orvaneExport.h"

class ORVANE_EXPORT regularFile {
 public:
  regularFile() = default;
  ~regularFile() { close(); }
  regularFile(const regularFile&) = delete;
  regularFile& operator=(const regularFile&) = delete;

  // Opens name for reading; returns 0, or the errno that explains the
  // failure (EISDIR for a directory, EINVAL for any other file that is not
  // regular).
  int open(const char* name);
  void close();

  // The descriptor to read from, or -1.
  int fd() const { return rf_fd; }
  // The file as it was looked at when it was opened.
  const struct stat& status() const { return rf_status; }

 private:
  int rf_fd = -1;
  int rf_path = -1;  // the O_PATH descriptor, or -1
  struct stat rf_status = {};
};

#endif
