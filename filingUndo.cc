#include "filingUndo.h"

#include "exceptions.h"
#include "journalReader.h"
#include "lineOutput.h"
#include "toolDriver.h"

namespace {

void putBack(const journalLine& line, nameSpace& names, timeOutput& output) {
  const std::string& from = line.renamed;
  const std::string& to = line.file;
  fileId moved, there;
  if (!names.identity(from, moved)) return;
  if (names.identity(to, there)) {
    if (there != moved) throw misc_error(" unable to put back", ": another file stands at its old name");
    output.putBack(from, to);
    stdoutLines().flush();
    if (names.removeName(from) != 0) throw file_error(" unable to put back");
    return;
  }
  output.putBack(from, to);
  stdoutLines().flush();
  const int err = names.rename(from, to);
  if (err == norenameWithoutReplacing)
    throw misc_error(" unable to put back", ": its file system renames only over another file");
  if (err != 0) throw file_error(" unable to put back", err);
  if (!names.dryRun() && (!names.identity(to, there) || there != moved)) {
    renameNoReplace(to.c_str(), from.c_str());
    throw misc_error(" unable to put back", ": another file took its name during the rename");
  }
}

}  // namespace

void undoFiling(const std::vector<std::string>& journals, nameSpace& names, timeOutput& output) {
  std::vector<journalLine> lines;
  for (const std::string& journal : journals) {
    std::vector<journalLine> more = readJournal(journal);
    lines.insert(lines.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
  }
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    try {
      putBack(*line, names, output);
    } catch (const misc_error& me) {
      stdoutLines().dropPartialLine();
      output.failed(line->renamed, me);
      reportLine(me, line->renamed.c_str());
    }
  }
}
