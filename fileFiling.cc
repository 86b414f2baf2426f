#include "fileFiling.h"

#include <dirent.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <vector>

#include "exceptions.h"
#include "lineOutput.h"
#include "toolDriver.h"

namespace {

// A path's folder as given, with its '/' ("" for none), and its last name.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::string::size_type slash = path.rfind('/');
  folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name's stem and its extension with the dot (".JPG"), "" for none: a
// dot that begins the name begins no extension.
void splitExtension(const std::string& name, std::string& stem, std::string& extension) {
  const std::string::size_type dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) {
    stem = name;
    extension.clear();
  } else {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
}

// Whether name is stem + extension, or stem + "-N" + extension with N a
// number from 1 as the suffix rule writes it.
bool isNameWithSuffix(const std::string& name, const std::string& stem, const std::string& extension) {
  if (name.size() == stem.size() + extension.size() && name.compare(0, stem.size(), stem) == 0 &&
      name.compare(stem.size(), extension.size(), extension) == 0)
    return true;
  if (name.size() < stem.size() + extension.size() + 2 || name.compare(0, stem.size(), stem) != 0 ||
      name[stem.size()] != '-' ||
      name.compare(name.size() - extension.size(), extension.size(), extension) != 0)
    return false;
  const std::string n = name.substr(stem.size() + 1, name.size() - stem.size() - 1 - extension.size());
  if (n.empty() || n[0] == '0') return false;
  for (char c : n)
    if (c < '0' || c > '9') return false;
  return true;
}

// The fields a name is made of: the wall clock as the file records it; for
// a time recorded only as an instant, that instant in the local zone.
struct tm fieldsOf(const captureTime& t) {
  struct tm local;
  if (std::strcmp(t.zone, "UTC") == 0 && localtime_r(&t.instant, &local)) return local;
  return t.wall;
}

// Each '/'-separated part of an expanded path must be a name a folder can
// hold, the last one with the extension added.
void checkNameParts(const std::string& path, const std::string& extension) {
  std::string::size_type start = !path.empty() && path[0] == '/' ? 1 : 0;
  while (true) {
    const std::string::size_type slash = path.find('/', start);
    const bool last = slash == std::string::npos;
    const std::string::size_type length = (last ? path.size() : slash) - start;
    if (length == 0) throw misc_error(" unable to file", ": the format gives it an empty name part");
    if (path[start] == '.' && (length == 1 || (length == 2 && path[start + 1] == '.')))
      throw misc_error(" unable to file",
                       (": the format gives it the name part \"" + path.substr(start, length) + "\"").c_str());
    if (length + (last ? extension.size() : 0) > NAME_MAX)
      throw misc_error(" unable to file", ": the format gives it a name longer than 255 bytes");
    if (last) break;
    start = slash + 1;
  }
}

struct sidecar {
  std::string from, to;
};

const char* const stemSidecars[] = {".xmp", ".XMP", ".aae", ".AAE"};
const char* const nameSidecars[] = {".xmp", ".XMP", ".wav"};

// Whether a name in a folder may be a sidecar: it ends in .xmp, .XMP, .aae,
// .AAE or .wav after at least one byte.  Every name of every folder filed
// from is asked, so the four bytes are compared at once.
bool sidecarName(const char* name) {
  const size_t n = std::strlen(name);
  if (n < 5) return false;
  const char* tail = name + n - 4;
  for (const char* e : {".xmp", ".XMP", ".aae", ".AAE", ".wav"})
    if (std::memcmp(tail, e, 4) == 0) return true;
  return false;
}

void writeTwo(std::string& s, int v) {
  s += static_cast<char>('0' + v / 10 % 10);
  s += static_cast<char>('0' + v % 10);
}

}  // namespace

bool filingFormat::valid(const std::string& format) {
  for (std::string::size_type i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (++i == format.size() || !std::strchr("YymdHMSjf%", format[i])) return false;
  }
  return true;
}

std::string filingFormat::expand(const struct tm& t, const std::string& stem) const {
  std::string out;
  out.reserve(ff_format.size() + 16);
  for (std::string::size_type i = 0; i < ff_format.size(); ++i) {
    const char c = ff_format[i];
    if (c != '%' || i + 1 == ff_format.size()) {
      out += c;
      continue;
    }
    switch (ff_format[++i]) {
      case 'Y': {  // years 1 to 9999, four digits
        const int year = t.tm_year + 1900;
        writeTwo(out, year / 100);
        writeTwo(out, year % 100);
        break;
      }
      case 'y': writeTwo(out, (t.tm_year + 1900) % 100); break;
      case 'm': writeTwo(out, t.tm_mon + 1); break;
      case 'd': writeTwo(out, t.tm_mday); break;
      case 'H': writeTwo(out, t.tm_hour); break;
      case 'M': writeTwo(out, t.tm_min); break;
      case 'S': writeTwo(out, t.tm_sec); break;
      case 'j':
        out += static_cast<char>('0' + (t.tm_yday + 1) / 100 % 10);
        writeTwo(out, (t.tm_yday + 1) % 100);
        break;
      case 'f': out += stem; break;
      default: out += ff_format[i]; break;  // %%
    }
  }
  return out;
}

filer::folderSidecars& filer::sidecarsIn(const std::string& folder) {
  folderSidecars& in = fi_sidecars[folder];
  if (in.listed) return in;
  DIR* d = opendir(folder.empty() ? "." : folder.c_str());
  if (!d) return in;  // a folder that can be searched, not read: names are looked up
  while (const dirent* e = readdir(d))
    if (e->d_type != DT_DIR && sidecarName(e->d_name)) in.names.insert(e->d_name);
  closedir(d);
  in.listed = true;
  return in;
}

bool filer::hasSidecar(folderSidecars& in, const std::string& folder, const std::string& name) const {
  return in.listed ? in.names.count(name) != 0 : fi_names.exists(folder + name);
}

bool filer::passOver(const std::string& file) const {
  if (fi_moved.count(file)) return true;
  if (fi_names.dryRun() && !fi_names.exists(file) && fi_names.renamedAway(file))
    throw file_error(" unable to open", ENOENT);
  return false;
}

bool filer::sameFolder(const std::string& a, const std::string& b) {
  auto identity = [&](const std::string& f, fileId& id) {
    const auto known = fi_folders.find(f);
    if (known != fi_folders.end()) {
      id = known->second;
      return true;
    }
    struct stat st;
    if (stat(f.empty() ? "." : f.c_str(), &st) != 0) return false;  // not made yet
    id = fi_folders[f] = fileId{st.st_dev, st.st_ino};
    return true;
  };
  fileId x, y;
  return identity(a, x) && identity(b, y) && x == y;
}

void filer::file(const std::string& file, const fileId& read, const captureTime& t) {
  std::string folder, name, stem, extension;
  splitPath(file, folder, name);
  splitExtension(name, stem, extension);

  const std::string expanded = fi_format.expand(fieldsOf(t), stem);
  checkNameParts(expanded, extension);
  std::string targetFolder, targetStem;
  splitPath(fi_format.isPath() ? expanded : folder + expanded, targetFolder, targetStem);

  // Already filed: a second run changes nothing.
  if (isNameWithSuffix(name, targetStem, extension) &&
      (targetFolder == folder || sameFolder(folder, targetFolder))) {
    fi_output.photograph(file, t);
    return;
  }

  fileId named;
  if (!fi_names.identity(file, named) || named != read)
    throw misc_error(" unable to file", ": its name no longer refers to the file that was read (a symbolic link, or another file put in its place)");
  if (fi_names.deviceOf(targetFolder) != read.dev)
    throw misc_error(" unable to file", ": its target is on another file system (nothing is copied)");

  std::vector<sidecar> sidecars;
  folderSidecars& here = sidecarsIn(folder);
  // Most folders hold no sidecar at all: nothing to look for.
  if (!here.listed || !here.names.empty()) {
    for (const char* s : stemSidecars)
      if (hasSidecar(here, folder, stem + s)) sidecars.push_back({stem + s, s});
    if (!extension.empty())
      for (const char* s : nameSidecars)
        if (hasSidecar(here, folder, name + s)) sidecars.push_back({name + s, extension + s});
  }

  // The first suffix free for the photograph and all its sidecars.  The
  // suffixes this run gave out under the same name are taken already: the
  // search goes on after the last of them, so that a thousand photographs
  // of one name cost a thousand look-ups, not half a million.
  unsigned long& next = fi_suffixes[targetFolder + targetStem + '/' + extension];
  auto withSuffix = [&](unsigned long n) { return n ? targetStem + "-" + std::to_string(n) : targetStem; };
  unsigned long n = next;
  std::string newStem = withSuffix(n);
  std::string renamed = targetFolder + newStem + extension;
  for (;;) {
    if (n && newStem.size() + extension.size() > NAME_MAX)
      throw misc_error(" unable to file", ": the format gives it a name longer than 255 bytes");
    bool free = !fi_names.exists(renamed);
    for (size_t i = 0; free && i < sidecars.size(); ++i)
      free = !fi_names.exists(targetFolder + newStem + sidecars[i].to);
    if (free) break;
    newStem = withSuffix(++n);
    renamed = targetFolder + newStem + extension;
  }

  // The line first: whatever happens after it, the journal has it.
  fi_output.filed(file, t, renamed);
  stdoutLines().flush();
  fi_names.makeFolders(targetFolder);
  const int err = fi_names.rename(file, renamed);
  if (err == EEXIST)
    throw misc_error(" unable to file", ": another file took its new name in the meantime");
  if (err == EXDEV)
    throw misc_error(" unable to file", ": its target is on another file system (nothing is copied)");
  if (err == norenameWithoutReplacing)
    throw misc_error(" unable to file", ": its file system renames only over another file");
  if (err != 0) throw file_error(" unable to rename", err);
  next = n + 1;
  if (!fi_names.dryRun() && (!fi_names.identity(renamed, named) || named != read)) {
    // Another file was put under the name in the meantime, and it is that
    // one that moved: it goes back.
    const int back = renameNoReplace(renamed.c_str(), file.c_str());
    if (back != 0)
      throw misc_error(" unable to file",
                       ": another file took its name during the rename, and it could not be put back");
    throw misc_error(" unable to file", ": another file took its name during the rename; it is back");
  }

  for (const sidecar& s : sidecars) {
    const std::string from = folder + s.from, to = targetFolder + newStem + s.to;
    fi_output.sidecar(from, to, file);
    stdoutLines().flush();
    const int e = fi_names.rename(from, to);
    if (e == 0) {
      fi_moved.insert(from);
      here.names.erase(s.from);
      const auto there = fi_sidecars.find(targetFolder);
      if (there != fi_sidecars.end()) there->second.names.insert(newStem + s.to);
    } else {
      const misc_error me = e == norenameWithoutReplacing
                                ? misc_error(" unable to move the sidecar",
                                             ": its file system renames only over another file")
                                : file_error(" unable to move the sidecar", e);
      fi_output.failed(from, me);
      reportLine(me, from.c_str());
    }
  }
}
