// fileRenaming: the renames of chronel -n and -u, which never put a file
// in the place of another.
//
// A rename is renameat2 with RENAME_NOREPLACE.  Where a file system refuses
// that flag (EINVAL), the file takes its new name as a second hard link,
// which the kernel makes only where no name stands, and then loses its old
// one: a file is under its old name, its new one, or both, never lost and
// never over another.  A file system that takes neither leaves the file
// where it is (norenameWithoutReplacing).
//
// nameSpace answers the questions that the filing asks of the names (is
// this one taken, what stands there) and makes its renames and folders.
// In a dry run it changes nothing on disk but notes each rename it would
// have made, and answers later questions as the real run would have found
// the names: a dry run prints exactly the lines of a real one.
#ifndef ORVANE_FILERENAMING_H
#define ORVANE_FILERENAMING_H

#include <sys/types.h>

#include <map>
#include <set>
#include <string>

// What renameNoReplace returns when the file system can rename neither
// without replacing nor by a second link.
constexpr int norenameWithoutReplacing = -1;

// Renames from to to unless to exists: 0, an errno value (EEXIST when a
// name stands at to), or norenameWithoutReplacing.
int renameNoReplace(const char* from, const char* to);

struct fileId {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const fileId& o) const { return dev == o.dev && ino == o.ino; }
  bool operator!=(const fileId& o) const { return !(*this == o); }
};

class nameSpace {
 public:
  explicit nameSpace(bool dryRun) : ns_dryRun(dryRun) {}
  bool dryRun() const { return ns_dryRun; }

  // Whether a name stands at path (lstat: a symbolic link is a name).
  bool exists(const std::string& path) const;
  // What stands at path; false when nothing does.
  bool identity(const std::string& path, fileId& id) const;
  // The device of folder, or of its nearest folder that exists: where a
  // file renamed into it would have to be.
  dev_t deviceOf(const std::string& folder);
  // Makes folder and the folders above it that are missing (mode 0777
  // less the umask); nothing in a dry run.  Throws file_error.
  void makeFolders(const std::string& folder);
  // renameNoReplace, or in a dry run the note that it was made.
  int rename(const std::string& from, const std::string& to);
  // Dry run: whether the run has renamed path away.
  bool renamedAway(const std::string& path) const { return ns_gone.count(path) != 0; }
  // Removes the name path (unlink), or notes it: 0 or errno.
  int removeName(const std::string& path);

 private:
  bool ns_dryRun;
  std::set<std::string> ns_made;       // folders known to exist
  std::map<std::string, dev_t> ns_devices;
  // Dry run: names the run has renamed away, and names it has taken, with
  // what stands there.
  std::set<std::string> ns_gone;
  std::map<std::string, fileId> ns_taken;
};

#endif
