// lookAhead: while one photograph of a list is parsed, the storage reads
// the heads of the next ones.
//
// Storage answers many requests at once (NVMe queues, RAID, network file
// systems, virtual disks), so on slow storage the first pages of the next
// photographs of the list, up to a window ahead, are asked for with
// posix_fadvise: each is opened, hinted and closed again, and nothing of it
// is kept or trusted, so that a photograph replaced or cut in the meantime
// is read as it is then.  On storage that has shown itself fast (the
// photographs are in the page cache) it costs nothing.
#ifndef ORVANE_OSMER_LOOKAHEAD_H
#define ORVANE_OSMER_LOOKAHEAD_H

#include <cstddef>

#include "orvaneExport.h"

class ORVANE_EXPORT lookAhead {
 public:
  // The list of names from first to last.
  lookAhead(char** first, char** last) : la_next(first), la_last(last) {}

  // Once the photograph at `at` in the list has had its first bytes read:
  // foresees the photographs after it up to the window, each once.
  void after(char** at);

  // How many photographs ahead are foreseen.
  static constexpr ptrdiff_t window = 32;

 private:
  char** la_next;  // the first name not foreseen yet
  char** la_last;
};

#endif
