// benchexec: runs one command and reports what it cost.
//
//   benchexec OUT ERR program argument...
//   benchexec OUT ERR --each LIST program argument...
//
// Starts the program with standard input from /dev/null and standard output
// and error in the files OUT and ERR, waits for it, and writes one line to
// its own standard output:
//   wall_seconds cpu_seconds maxrss_kib exit_code
// where exit_code is 128 + the signal for a program killed by one, and 127
// when it could not be started.
//
// With --each, the program runs once for every path of the file LIST (one
// a line), one after the other, with the argument "@FILE" replaced by the
// path, and all its output appended to OUT and ERR: the line then gives the
// time of all the runs together, the largest peak resident set of any, and
// the first exit code that was not 0.
//
// Why a process of its own: the peak resident set that the kernel reports
// for a child counts the pages of the process it was forked from, up to the
// exec.  This program uses only the C library and holds almost nothing, so
// the figure it reports is the program's own.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double seconds(const struct timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// Runs argv once with the given output descriptors; returns its exit code
// and adds its resource use to ru.
int runOne(char** argv, int out, int err, struct rusage& ru) {
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("benchexec: fork");
    std::exit(1);
  }
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  struct rusage one;
  while (wait4(pid, &status, 0, &one) < 0) {
    if (errno != EINTR) {
      std::perror("benchexec: wait4");
      std::exit(1);
    }
  }
  ru.ru_utime.tv_sec += one.ru_utime.tv_sec;
  ru.ru_utime.tv_usec += one.ru_utime.tv_usec;
  ru.ru_stime.tv_sec += one.ru_stime.tv_sec;
  ru.ru_stime.tv_usec += one.ru_stime.tv_usec;
  if (one.ru_maxrss > ru.ru_maxrss) ru.ru_maxrss = one.ru_maxrss;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[3], "--each") == 0 && argc < 6)) {
    std::fprintf(stderr, "usage: benchexec OUT ERR [--each LIST] program [argument...]\n");
    return 2;
  }
  const bool each = std::strcmp(argv[3], "--each") == 0;
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (each ? O_APPEND : 0);
  const int out = open(argv[1], flags, 0644);
  const int err = open(argv[2], flags, 0644);
  if (out < 0 || err < 0) {
    std::perror("benchexec: output files");
    return 1;
  }
  struct rusage ru;
  std::memset(&ru, 0, sizeof ru);
  int code = 0;
  const double t0 = now();
  if (!each) {
    code = runOne(argv + 3, out, err, ru);
  } else {
    char** args = argv + 5;
    int slot = -1;
    for (int k = 0; args[k]; ++k)
      if (std::strcmp(args[k], "@FILE") == 0) slot = k;
    FILE* list = std::fopen(argv[4], "r");
    if (!list || slot < 0) {
      std::fprintf(stderr, "benchexec: no list %s, or no @FILE argument\n", argv[4]);
      return 2;
    }
    char path[4096];
    while (std::fgets(path, sizeof path, list)) {
      path[std::strcspn(path, "\n")] = 0;
      if (!path[0]) continue;
      args[slot] = path;
      const int c = runOne(args, out, err, ru);
      if (c != 0 && code == 0) code = c;
    }
    std::fclose(list);
  }
  const double wall = now() - t0;
  std::printf("%.6f %.6f %ld %d\n", wall, seconds(ru.ru_utime) + seconds(ru.ru_stime),
              ru.ru_maxrss, code);
  return 0;
}
