// fileReplacement: writes a file so that whoever reads its name sees the
// old file or the whole new one, never a part.
//
// The new bytes go to a temporary file created exclusively beside the
// target, named after it (".NAME.XXXXXX", so that a file left by a power
// cut tells what it was for), with the permission bits 0666 less the umask,
// or 0600 while it replaces an older file.  keep() gives it the older
// file's owner, group and permission bits where the caller may, closes it
// and renames it onto the target: a symbolic link planted at the target is
// replaced, not followed.  Until keep() has succeeded, destroying the object
// removes the temporary file, whatever path the caller took; so does any
// signal that ends a process and can be handled (cleanupSignals), after
// which the process ends by that signal as it would have.  SIGXFSZ is
// ignored, so that a write past the file size limit fails with EFBIG and
// becomes a report line like any other failed write.
//
// An older target is never written in place: a write there could be cut
// half way (a full disk, a signal, SIGKILL, an I/O error) and leave neither
// file.  When no temporary file can be created beside it, create() throws
// and the older file stays as it was.
#ifndef ORVANE_FILEREPLACEMENT_H
#define ORVANE_FILEREPLACEMENT_H

#include <sys/stat.h>

#include <cstddef>
#include <string>

class fileReplacement {
 public:
  // failure is the report text of a failed create or write (" unable to
  // write audio of"), renameFailure that of a failed rename.
  fileReplacement(const char* failure, const char* renameFailure)
      : fr_failure(failure), fr_renameFailure(renameFailure) {}
  ~fileReplacement() { discard(); }
  fileReplacement(const fileReplacement&) = delete;
  fileReplacement& operator=(const fileReplacement&) = delete;

  // Starts the new file that is to replace target.  Throws file_error.
  void create(const std::string& target);
  bool created() const { return fr_fd >= 0; }
  // Writes all n bytes, continuing short and interrupted writes.
  void write(const void* p, size_t n);
  // Closes the file and puts it in place under the target's name.
  void keep();

 private:
  void discard();

  const char* fr_failure;
  const char* fr_renameFailure;
  std::string fr_target;
  std::string fr_temp;  // the temporary file while it exists, else empty
  int fr_fd = -1;
  bool fr_replaces = false;  // an older regular file stands at fr_target
  struct stat fr_old = {};   // and these are its owner and mode
};

#endif
