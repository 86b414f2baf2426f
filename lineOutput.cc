#include "lineOutput.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "quote.h"

namespace {

// The most a pipe takes in one piece.
constexpr size_t wholeWrite = PIPE_BUF;

}  // namespace

lineOutput::lineOutput(int fd)
    : lo_fd(fd), lo_terminal(isatty(fd) == 1), lo_collect(fd == STDOUT_FILENO && !lo_terminal) {
  lo_buf.reserve(2 * wholeWrite);
}

lineOutput& lineOutput::text(const char* s) { return text(s, std::strlen(s)); }

lineOutput& lineOutput::text(const char* s, size_t n) {
  lo_buf.append(s, n);
  return *this;
}

lineOutput& lineOutput::number(long long v) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  return text(digits, static_cast<size_t>(r.ptr - digits));
}

lineOutput& lineOutput::pointer(const void* p) {
  char hex[24];
  const int n = std::snprintf(hex, sizeof hex, "%p", p);
  return text(hex, n > 0 ? static_cast<size_t>(n) : 0);
}

lineOutput& lineOutput::name(const char* s) {
  if (!lo_terminal) return text(s);
  quote(quoteStyle::terminal, s, std::strlen(s), lo_buf);
  return *this;
}

lineOutput& lineOutput::content(const void* p, size_t n) {
  if (!lo_terminal) return text(static_cast<const char*>(p), n);
  quote(quoteStyle::terminalText, static_cast<const char*>(p), n, lo_buf);
  return *this;
}

void lineOutput::endLine() {
  lo_buf += '\n';
  if (this == &stderrLines()) stdoutLines().flush();
  if (lo_collect) {
    // Held lines go out when this one would take them past a whole write;
    // this one waits for the next unless it is that long itself.
    if (lo_buf.size() > wholeWrite && lo_lineStart > 0) {
      writeAll(lo_buf.data(), lo_lineStart);
      lo_buf.erase(0, lo_lineStart);
    }
    lo_lineStart = lo_buf.size();
    if (lo_lineStart <= wholeWrite) return;
  }
  lo_lineStart = lo_buf.size();
  flush();
}

void lineOutput::flush() {
  if (lo_lineStart == 0) return;
  writeAll(lo_buf.data(), lo_lineStart);
  lo_buf.erase(0, lo_lineStart);
  lo_lineStart = 0;
}

void lineOutput::dropPartialLine() { lo_buf.resize(lo_lineStart); }

void lineOutput::writeAll(const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(lo_fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      const int e = w < 0 ? errno : EIO;
      lo_buf.clear();
      lo_lineStart = 0;
      // Standard error has nowhere to report to.
      if (lo_fd == STDOUT_FILENO) throw outputFailed{e};
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

lineOutput& stdoutLines() {
  static lineOutput out(STDOUT_FILENO);
  return out;
}

lineOutput& stderrLines() {
  static lineOutput err(STDERR_FILENO);
  return err;
}
