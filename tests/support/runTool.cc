#include "runTool.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace testjpeg {

namespace {

const passwd* nobody() { return getpwnam("nobody"); }

// The wrapper that runs the 32-bit build on a kernel without IA-32 support
// (qemu-i386): CI's 32-bit step names it in ORVANE_TEST_EMULATOR.  Only
// i386 programs get it, so /bin/sh and the oracles run as they are.
std::string emulatorFor(const std::string& program) {
  const char* emulator = std::getenv("ORVANE_TEST_EMULATOR");
  if (!emulator || !*emulator) return "";
  std::ifstream in(program, std::ios::binary);
  unsigned char head[20] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return "";
  const bool elf = head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
  const bool i386 = head[4] == 1 && head[5] == 1 && head[18] == 3 && head[19] == 0;  // EM_386
  return elf && i386 ? emulator : "";
}

// The command that runs program with args: through the emulator where one
// is needed, which then passes the variables on to the program (qemu-user's
// -E), so that the emulator itself runs unaffected by LD_PRELOAD,
// LD_TRACE_LOADED_OBJECTS and the like.
std::vector<std::string> commandLine(const std::string& emulator, const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::vector<std::string>& env) {
  std::vector<std::string> line;
  if (!emulator.empty()) {
    line.push_back(emulator);
    for (const auto& e : env) {
      line.push_back("-E");
      line.push_back(e);
    }
  }
  line.push_back(program);
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (auto& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// True when user may run the program at path: every directory on the way
// searchable, the file executable.  Asked as that user, in a child.
bool runnableAs(const passwd* user, const std::string& path) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0)
      _exit(2);
    _exit(access(path.c_str(), X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Programs copied where another user can reach them, and the folder that
// holds them, removed when the tests end.
struct reachableCopies {
  std::string dir;
  std::map<std::string, std::string> copies;  // program -> the one to run
  ~reachableCopies() {
    if (!dir.empty() && std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
  }
};

// A build below a directory that only its owner may enter (a checkout in
// what mktemp -d makes) cannot be run by the user tests drop to.  Such a
// program is run from a copy in a temporary folder that anyone may enter,
// with the shared libraries of the build's lib/ beside it, found through
// LD_LIBRARY_PATH.  A program that user can run, or cannot run even from
// the copy, is left as it is.
void makeReachable(std::string& program, std::vector<std::string>& env, const passwd* user) {
  static reachableCopies c;
  auto known = c.copies.find(program);
  if (known == c.copies.end()) {
    std::string run = program;
    if (!runnableAs(user, program)) {
      if (c.dir.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvane-tools-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) {
          c.dir = buf.data();
          chmod(c.dir.c_str(), 0755);
        }
      }
      const std::string::size_type slash = program.rfind('/');
      const std::string from = slash == std::string::npos ? "." : program.substr(0, slash);
      const std::string copy = c.dir + "/" + program.substr(slash + 1);
      const std::string cmd = "mkdir -p '" + c.dir + "/lib' && cp -P '" + from + "'/lib/*.so* '" +
                              c.dir + "/lib/' 2>/dev/null; cp '" + program + "' '" + copy + "'";
      if (!c.dir.empty() && std::system(cmd.c_str()) == 0 && runnableAs(user, copy)) run = copy;
    }
    known = c.copies.emplace(program, run).first;
  }
  if (known->second != program) {
    program = known->second;
    env.push_back("LD_LIBRARY_PATH=" + c.dir + "/lib");
  }
}

}  // namespace

runOptions withFaults(const std::vector<std::string>& faults) {
  runOptions o;
  o.env = faults;
  o.env.push_back(std::string("LD_PRELOAD=") + ORVANE_FAULTS);
  // The sanitizers' run-time wants to be the first library loaded; the
  // fault library stands before it on purpose.
  const char* asan = std::getenv("ASAN_OPTIONS");
  o.env.push_back(std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") +
                  "verify_asan_link_order=0");
  return o;
}

bool canDropPrivileges() { return geteuid() != 0 || nobody() != nullptr; }

bool underEmulation() {
  const char* emulator = std::getenv("ORVANE_TEST_EMULATOR");
  return emulator && *emulator;
}

toolResult runTool(const std::string& tool, const std::vector<std::string>& args,
                   const runOptions& given) {
  const passwd* user = given.unprivileged && geteuid() == 0 ? nobody() : nullptr;
  std::string program = tool;
  runOptions options = given;
  if (user) makeReachable(program, options.env, user);
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe failed");
  const uid_t uid = user ? user->pw_uid : 0;
  const gid_t gid = user ? user->pw_gid : 0;

  const std::string emulator = emulatorFor(program);
  std::vector<std::string> argvStore = commandLine(emulator, program, args, options.env);
  std::vector<char*> argv = pointersTo(argvStore);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!options.stdoutTo.empty()) {
      const int fd = open(options.stdoutTo.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      if (fd < 0 || dup2(fd, 1) < 0) _exit(124);
    }
    if (emulator.empty())
      for (const auto& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (user && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(125);
    if (emulator.empty())
      execv(program.c_str(), argv.data());
    else
      execvp(emulator.c_str(), argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  toolResult r;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open = 2;
  const double deadline = now() + options.timeoutSeconds;
  bool killed = false;
  while (open > 0) {
    int left = static_cast<int>((deadline - now()) * 1000);
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (poll(fds, 2, left) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (killed)
    r.status = -2;
  else if (WIFEXITED(status))
    r.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    r.status = 128 + WTERMSIG(status);
  return r;
}

toolResult runToolMerged(const std::string& tool, const std::vector<std::string>& args,
                         const runOptions& given, const std::string& prelude) {
  std::string program = tool;
  runOptions options = given;
  if (options.unprivileged && geteuid() == 0 && nobody())
    makeReachable(program, options.env, nobody());
  std::vector<std::string> shArgs{"-c", prelude + "exec \"$@\" 2>&1", "sh"};
  const std::string emulator = emulatorFor(program);
  const std::vector<std::string> line = commandLine(emulator, program, args, options.env);
  shArgs.insert(shArgs.end(), line.begin(), line.end());
  if (!emulator.empty()) options.env.clear();  // the emulated program's, not the shell's
  return runTool("/bin/sh", shArgs, options);
}

toolResult runToolOnTerminal(const std::string& program, const std::vector<std::string>& args,
                             const runOptions& options) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  const std::string slave = ptsname(master);
  const std::string emulator = emulatorFor(program);
  std::vector<std::string> argvStore = commandLine(emulator, program, args, options.env);
  std::vector<char*> argv = pointersTo(argvStore);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setsid();
    const int tty = open(slave.c_str(), O_RDWR);
    if (tty < 0) _exit(126);
    termios t;
    tcgetattr(tty, &t);
    cfmakeraw(&t);
    tcsetattr(tty, TCSANOW, &t);
    dup2(tty, 1);
    dup2(tty, 2);
    close(tty);
    close(master);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (emulator.empty())
      for (const auto& e : options.env) putenv(const_cast<char*>(e.c_str()));
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  toolResult r;
  const double deadline = now() + options.timeoutSeconds;
  pollfd fd = {master, POLLIN, 0};
  for (;;) {
    const int left = static_cast<int>((deadline - now()) * 1000);
    if (left <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(&fd, 1, left) < 0 && errno != EINTR) break;
    char buf[65536];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    r.out.append(buf, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return r;
}

tempDir::tempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvane-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  td_path = buf.data();
  chmod(td_path.c_str(), 0777);  // so that tests run as another user can enter
}

tempDir::~tempDir() {
  std::string cmd = "chmod -R u+rwx '" + td_path + "' 2>/dev/null; rm -rf '" + td_path + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

std::set<std::string> listDir(const std::string& path) {
  std::set<std::string> names;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.insert(n);
    }
    closedir(d);
  }
  return names;
}

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace testjpeg
