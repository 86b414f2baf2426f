// journalReader: reads back the JSON Lines that chronel -j writes, for
// chronel -u.
//
// A line is one JSON object.  Of its members only "file" and "renamed"
// matter here; the others (numbers, strings, nested objects and arrays)
// are passed over, so lines that carry more members read all the same.
// Strings are read as chronel writes names: UTF-8 as it is, \uXXXX escapes
// with surrogate pairs, and a lone \udc80 to \udcff for the byte 0x80 to
// 0xff that was not part of valid UTF-8, so that every name comes back
// byte for byte.
#ifndef ORVANE_JOURNALREADER_H
#define ORVANE_JOURNALREADER_H

#include <cstddef>
#include <string>
#include <vector>

struct journalLine {
  std::string file;     // the name before the rename
  std::string renamed;  // the name after it; "" when the line renamed nothing
  size_t line = 0;      // its line number in the journal, from 1
};

// Parses one line (without its newline).  False when it is not one JSON
// object whose "file" and "renamed", where present, are strings.
bool parseJournalLine(const char* p, size_t n, journalLine& out);

// The lines of the journal that name a rename, in order.  A line that is
// not one that chronel writes gets a report line naming the journal and
// its line number, and is passed over; a journal that cannot be read gets
// a report line.
std::vector<journalLine> readJournal(const std::string& journal);

#endif
