// benchexec: runs one command and reports what it cost.
//
//   benchexec OUT ERR program argument...
//
// Starts the program with standard input from /dev/null and standard output
// and error in the files OUT and ERR, waits for it, and writes one line to
// its own standard output:
//   wall_seconds cpu_seconds maxrss_kib exit_code
// where exit_code is 128 + the signal for a program killed by one, and 127
// when it could not be started.
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

namespace {

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double seconds(const struct timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: benchexec OUT ERR program [argument...]\n");
    return 2;
  }
  const double t0 = now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("benchexec: fork");
    return 1;
  }
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(127);
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  struct rusage ru;
  while (wait4(pid, &status, 0, &ru) < 0) {
    if (errno != EINTR) {
      std::perror("benchexec: wait4");
      return 1;
    }
  }
  const double wall = now() - t0;
  const int code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  std::printf("%.6f %.6f %ld %d\n", wall, seconds(ru.ru_utime) + seconds(ru.ru_stime),
              ru.ru_maxrss, code);
  return 0;
}
