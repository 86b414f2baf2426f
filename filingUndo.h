// filingUndo: chronel -u, which puts back the renames that the journals of
// chronel -n -j name.
//
// The journals' lines are taken together, in order, and undone from the
// last to the first.  A line whose new name no longer stands (its rename
// never happened, or was undone already) is passed over.  A name goes back
// as a rename that never replaces a file, checked as the filing checks its
// own: what stands at the old name afterwards must be what stood at the
// new one, or it goes back again and gets a report line.  A file found
// under both names (its rename fell back to a second link and was cut short
// between the link and the removal of the old name) loses its new name.
// Each name put back gets its line, written before its rename: a journal
// of the undo, which is itself a journal that -u reads.
#ifndef ORVANE_FILINGUNDO_H
#define ORVANE_FILINGUNDO_H

#include <string>
#include <vector>

#include "fileRenaming.h"
#include "timeOutput.h"

void undoFiling(const std::vector<std::string>& journals, nameSpace& names, timeOutput& output);

#endif
