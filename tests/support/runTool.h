// Test support: runs a built program and captures its two output streams,
// and a temporary directory that cleans up after itself.
#ifndef ORVANE_TESTS_RUNTOOL_H
#define ORVANE_TESTS_RUNTOOL_H

#include <set>
#include <string>
#include <vector>

namespace testjpeg {

struct toolResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number
};

struct runOptions {
  std::vector<std::string> env;  // NAME=value pairs added to the environment
  std::string cwd;               // working directory, if not empty
  bool unprivileged = false;     // drop to the user "nobody" when run as root
  double timeoutSeconds = 60;    // the program is killed after this
  std::string stdoutTo = {};     // a file to write standard output to, if not empty
};

// Options that preload the tests' fault library (support/faults.cc) into
// the program, with the faults it is to cause as NAME=value pairs.
runOptions withFaults(const std::vector<std::string>& faults);

toolResult runTool(const std::string& program, const std::vector<std::string>& args,
                   const runOptions& options = {});

// The same, with standard error sent into standard output's pipe, so that
// the order of lines across the two streams is seen as a terminal shows it.
// The program runs through /bin/sh, after the shell commands in prelude.
toolResult runToolMerged(const std::string& program, const std::vector<std::string>& args,
                         const runOptions& options = {}, const std::string& prelude = "");

// The program with both standard streams on one pseudo-terminal, as a user
// at a terminal runs it (in raw mode, so that its bytes arrive as written);
// everything it wrote is in out.
toolResult runToolOnTerminal(const std::string& program, const std::vector<std::string>& args,
                             const runOptions& options = {});

// True when runOptions::unprivileged will really take away root's rights.
bool canDropPrivileges();

// True when the programs under test run under an emulator (the 32-bit build
// under qemu-i386, named by ORVANE_TEST_EMULATOR); runTool then starts them
// through it.  Tests that need a kernel feature the emulator lacks skip.
bool underEmulation();

class tempDir {
 public:
  tempDir();
  ~tempDir();
  tempDir(const tempDir&) = delete;
  tempDir& operator=(const tempDir&) = delete;
  const std::string& path() const { return td_path; }
  std::string operator/(const std::string& name) const { return td_path + "/" + name; }

 private:
  std::string td_path;
};

// The names in a folder, but . and ..
std::set<std::string> listDir(const std::string& path);

// The full path of a program found on PATH, or "" when there is none.
std::string findProgram(const std::string& name);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace testjpeg

#endif
