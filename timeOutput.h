// timeOutput: the forms in which chronel writes the capture times it finds.
//
// One writer is chosen from the options before the first photograph: it
// writes what comes before the first photograph's line (begin), one line
// per photograph whose capture time was found, what it writes for a file
// that failed (failed: nothing, but for JSON Lines; its report line
// follows on standard error), and what ends the output (end).  A new form
// is one more writer here.
#ifndef ORVANE_TIMEOUTPUT_H
#define ORVANE_TIMEOUTPUT_H

#include <ctime>
#include <memory>
#include <string>

#include "exceptions.h"
#include "util.h"

class timeOutput {
 public:
  virtual ~timeOutput() = default;
  virtual void begin() {}
  virtual void photograph(const std::string& file, const captureTime& t) = 0;
  virtual void failed(const std::string& /*file*/, const misc_error& /*me*/) {}
  virtual void end() {}

  // Filing (-n, -u): a photograph with the name it is given, a sidecar that
  // goes with it, a name put back as it was.
  virtual void filed(const std::string& /*file*/, const captureTime& /*t*/,
                     const std::string& /*renamed*/) {}
  virtual void sidecar(const std::string& /*file*/, const std::string& /*renamed*/,
                       const std::string& /*with*/) {}
  virtual void putBack(const std::string& /*file*/, const std::string& /*renamed*/) {}
};

enum class timeFormat {
  plain,  // the ctime text and the name (show_time)
  quiet,  // nothing (-q)
  php,    // a PHP block of assignments (-p, dump_php3_time)
  json,   // JSON Lines, one object a photograph (-j)
};

std::unique_ptr<timeOutput> makeTimeOutput(timeFormat format);

// The plain line: the ctime text of the capture time, a blank, the name.
void show_time(std::string file, time_t unixtime);
// One assignment of the PHP array, keyed by the name's base name.
void dump_php3_time(std::string file, time_t unixtime);

#endif
