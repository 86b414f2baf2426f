// Fuzz target: parseJournalLine, chronel -u's reader of the JSON Lines that
// chronel -j writes, on arbitrary lines (a journal is a file anyone may
// have edited).  A line that parses gives names without NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "journalReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  journalLine line;
  if (parseJournalLine(reinterpret_cast<const char*>(data), size, line) &&
      (std::memchr(line.file.data(), 0, line.file.size()) ||
       std::memchr(line.renamed.data(), 0, line.renamed.size())))
    std::abort();
  return 0;
}
