// Error records shared by every tool and by the libraries they link.
//
// A failure is thrown as a misc_error by value and caught per file.  Its two
// texts complete the report line: "chronel:" + msg1 + " " + file + msg2 + "."
#ifndef ORVANE_EXCEPTIONS_H
#define ORVANE_EXCEPTIONS_H

#include <cerrno>
#include <cstring>
#include <string>

#include "orvaneExport.h"

class ORVANE_EXPORT misc_error {
 public:
  explicit misc_error(const char* m1) : me_msg1(m1 ? m1 : ""), me_msg2() {}
  misc_error(const char* m1, const char* m2)
      : me_msg1(m1 ? m1 : ""), me_msg2(m2 ? m2 : "") {}

  char* msg1() { return me_msg1.data(); }
  char* msg2() { return me_msg2.data(); }
  // Report lines are written from a const reference in every tool.
  const char* msg1() const { return me_msg1.c_str(); }
  const char* msg2() const { return me_msg2.c_str(); }

 protected:
  std::string me_msg1;
  std::string me_msg2;
};

// A failed system call on the named file: msg2 carries ": " and the system's
// error text for the errno current when the record is built.
class ORVANE_EXPORT file_error : public misc_error {
 public:
  explicit file_error(const char* m) : misc_error(m) { set_err(errno); }
  file_error(const char* m, int err) : misc_error(m) { set_err(err); }

 private:
  void set_err(int err) {
    me_msg2 = ": ";
    me_msg2 += std::strerror(err);
  }
};

class ORVANE_EXPORT eof {};

#endif
