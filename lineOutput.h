// lineOutput: the lines a tool writes to standard output or standard error.
//
// A line is built from pieces and goes out whole.  On a pipe or a file,
// standard output collects whole lines and writes them with one write when
// the next line would take it past PIPE_BUF bytes (a pipe keeps a write of
// that size whole, so that the lines of tools run side by side into one
// pipe never mix), before any line goes to standard error (so that 2>&1
// keeps the order in which lines were made), and at the end.  A line longer
// than PIPE_BUF goes out on its own.  On a terminal every line goes out at
// once.  Standard error writes every line at once.
//
// On a terminal, the pieces that come from outside the tool (file names,
// a file's own bytes) cannot drive it: control characters, DEL, C1
// controls and bytes that are not valid in the locale's character set are
// shown as visible escapes (\033), while printable characters of the locale
// are written as they are; a comment's line breaks and tabs stay (quote.h,
// the styles terminal and terminalText).  On a pipe or a file every byte
// goes out exactly as it is.
//
// A failed write to standard output is the one failure that loses the
// output itself: it throws outputFailed, which the tool driver reports once
// before the tool ends with status 1.
#ifndef ORVANE_LINEOUTPUT_H
#define ORVANE_LINEOUTPUT_H

#include <cstddef>
#include <string>

// Thrown when standard output cannot be written: errno's value then.
struct outputFailed {
  int err;
};

class lineOutput {
 public:
  explicit lineOutput(int fd);
  lineOutput(const lineOutput&) = delete;
  lineOutput& operator=(const lineOutput&) = delete;

  // Pieces of the line being built.
  lineOutput& text(const char* s);  // the tool's own words
  lineOutput& text(const char* s, size_t n);
  lineOutput& number(long long v);
  lineOutput& pointer(const void* p);  // as the standard streams write one: 0x...
  // A file name, as the user gave it.
  lineOutput& name(const char* s);
  lineOutput& name(const std::string& s) { return name(s.c_str()); }
  // Bytes that come from a file (a comment), whose line breaks and tabs
  // are its own.
  lineOutput& content(const void* p, size_t n);

  // Ends the line with a newline and sends it on its way.
  void endLine();
  // Writes out whatever whole lines are held.
  void flush();
  // Forgets the pieces of a line that was not ended (its step failed).
  void dropPartialLine();

  bool terminal() const { return lo_terminal; }

 private:
  void writeAll(const char* p, size_t n);

  int lo_fd;
  bool lo_terminal;
  bool lo_collect;         // whole lines are held back (standard output on a pipe or file)
  std::string lo_buf;       // whole lines held, then the line being built
  size_t lo_lineStart = 0;  // where the line being built starts in lo_buf
};

// The tool's two streams.  Before a line goes to standard error, the lines
// held for standard output are written.
lineOutput& stdoutLines();
lineOutput& stderrLines();

#endif
