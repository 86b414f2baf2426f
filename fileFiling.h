// fileFiling: chronel -n, which files each photograph under a name made of
// its capture time, with its sidecars, never over another file.
//
// filingFormat is the FORMAT: its conversions %Y %y %m %d %H %M %S %j of
// the capture time's own fields, %f for the file's name without its
// extension, and %%.  The expansion is a name in the photograph's folder
// when FORMAT has no '/', else a path (relative to the current folder
// unless absolute), to which the file's extension is added as given.
//
// filer files one photograph at a time:
//  - a photograph already at its target name, or at it with a suffix
//    -1, -2, ..., stays where it is (a second run over a filed library
//    changes nothing);
//  - a taken target gets the first free suffix, free for the photograph
//    and every sidecar it takes along;
//  - its line (with the new name) is written and flushed before the
//    rename, so that a run killed at any point leaves a journal of all it
//    did (chronel -u undoes it);
//  - the rename is the file that was read: the name's inode is compared
//    with the open descriptor's before the rename, the new name's after
//    it, and on a mismatch the rename is undone;
//  - its sidecars follow, each with a line of its own: STEM.xmp, STEM.XMP,
//    STEM.aae, STEM.AAE take the new stem; NAME.xmp, NAME.XMP, NAME.wav
//    (NAME the whole name) the new name.  Each folder's sidecars are
//    found by reading the folder once, when its first photograph is filed,
//    not by looking for seven names a photograph: a sidecar that appears
//    in a folder after that stays where it is.
#ifndef ORVANE_FILEFILING_H
#define ORVANE_FILEFILING_H

#include <ctime>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "fileRenaming.h"
#include "timeOutput.h"
#include "util.h"

class filingFormat {
 public:
  // Whether format has only known conversions (and no lone '%' at its end).
  static bool valid(const std::string& format);
  explicit filingFormat(std::string format) : ff_format(std::move(format)) {}

  bool isPath() const { return ff_format.find('/') != std::string::npos; }
  // The expansion for a capture time's fields and a file's stem.
  std::string expand(const struct tm& fields, const std::string& stem) const;

 private:
  std::string ff_format;
};

class filer {
 public:
  filer(filingFormat format, nameSpace& names, timeOutput& output)
      : fi_format(std::move(format)), fi_names(names), fi_output(output) {}

  // Files the photograph named file (as given), taken at t, whose open
  // descriptor reads the file read (its device and inode); writes its line.  Throws misc_error when it stays where it is for a
  // failure; a sidecar that cannot follow gets a report line of its own.
  void file(const std::string& file, const fileId& read, const captureTime& t);

  // Before a file is read: true for a sidecar that went with its
  // photograph in this run (passed over quietly).  In a dry run, a name
  // that the run has renamed away gets the report line that opening it
  // would give.
  bool passOver(const std::string& file) const;

 private:
  struct folderSidecars {
    bool listed = false;  // else each name is looked up
    std::unordered_set<std::string> names;
  };
  folderSidecars& sidecarsIn(const std::string& folder);
  // Whether two folders as given are one (stat, once a folder).
  bool sameFolder(const std::string& a, const std::string& b);
  bool hasSidecar(folderSidecars& in, const std::string& folder, const std::string& name) const;

  filingFormat fi_format;
  nameSpace& fi_names;
  timeOutput& fi_output;
  std::set<std::string> fi_moved;  // sidecars moved, by their old names
  std::map<std::string, folderSidecars> fi_sidecars;  // by folder as given
  std::map<std::string, fileId> fi_folders;           // folders found, by name as given
  // By target folder, stem and extension: the first suffix this run has not
  // given out yet (0: the name without one).
  std::unordered_map<std::string, unsigned long> fi_suffixes;
};

#endif
