#include "fileRenaming.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "exceptions.h"

namespace {

// The folder without the slashes that end it ("" for the current one).
std::string withoutTrailingSlashes(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The folder that holds folder: "a/b" -> "a", "/a" -> "/", "a" -> "".
std::string parentOf(const std::string& folder) {
  const std::string::size_type slash = folder.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return withoutTrailingSlashes(folder.substr(0, slash));
}

}  // namespace

int renameNoReplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS) return err;
  // The flag is refused: a second name, made only where none stands, then
  // the old one goes.  Should the old name not go, neither does the new.
  if (link(from, to) != 0) {
    const int linkErr = errno;
    // A file system without hard links (FAT) says EPERM.
    return linkErr == EPERM || linkErr == EOPNOTSUPP || linkErr == ENOSYS ? norenameWithoutReplacing
                                                                          : linkErr;
  }
  if (unlink(from) != 0) {
    const int unlinkErr = errno;
    unlink(to);
    return unlinkErr;
  }
  return 0;
}

bool nameSpace::exists(const std::string& path) const {
  fileId id;
  return identity(path, id);
}

bool nameSpace::identity(const std::string& path, fileId& id) const {
  if (ns_dryRun) {
    const auto taken = ns_taken.find(path);
    if (taken != ns_taken.end()) {
      id = taken->second;
      return true;
    }
    if (ns_gone.count(path)) return false;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  return true;
}

dev_t nameSpace::deviceOf(const std::string& folder) {
  const auto known = ns_devices.find(folder);
  if (known != ns_devices.end()) return known->second;
  struct stat st = {};
  for (std::string f = withoutTrailingSlashes(folder);; f = parentOf(f)) {
    if (stat(f.empty() ? "." : f.c_str(), &st) == 0 || f.empty() || f == "/") break;
  }
  ns_devices[folder] = st.st_dev;
  return st.st_dev;
}

void nameSpace::makeFolders(const std::string& folder) {
  const std::string f = withoutTrailingSlashes(folder);
  if (ns_dryRun || f.empty() || f == "/" || ns_made.count(f)) return;
  if (mkdir(f.c_str(), 0777) != 0) {
    struct stat st;
    if (errno == ENOENT) {
      makeFolders(parentOf(f));
      if (mkdir(f.c_str(), 0777) != 0 && errno != EEXIST)
        throw file_error(" unable to make the folder for");
    } else if (errno != EEXIST || stat(f.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      throw file_error(" unable to make the folder for");
    }
  }
  ns_made.insert(f);
}

int nameSpace::rename(const std::string& from, const std::string& to) {
  if (!ns_dryRun) return renameNoReplace(from.c_str(), to.c_str());
  fileId id;
  if (!identity(from, id)) return ENOENT;
  if (exists(to)) return EEXIST;
  ns_taken.erase(from);
  ns_gone.insert(from);
  ns_gone.erase(to);
  ns_taken[to] = id;
  return 0;
}

int nameSpace::removeName(const std::string& path) {
  if (!ns_dryRun) return unlink(path.c_str()) == 0 ? 0 : errno;
  ns_taken.erase(path);
  ns_gone.insert(path);
  return 0;
}
