#include "lineOutput.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>

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
  appendShown(s, std::strlen(s), false);
  return *this;
}

lineOutput& lineOutput::content(const void* p, size_t n) {
  if (!lo_terminal) return text(static_cast<const char*>(p), n);
  appendShown(static_cast<const char*>(p), n, true);
  return *this;
}

void lineOutput::appendShown(const char* p, size_t n, bool keepBreaks) {
  // Which characters are printable is the locale's to say, looked up the
  // first time a terminal needs it.
  static const bool localeRead = (std::setlocale(LC_CTYPE, ""), true);
  (void)localeRead;
  auto escape = [this](unsigned char c) {
    const char octal[4] = {'\\', static_cast<char>('0' + (c >> 6)),
                           static_cast<char>('0' + (c >> 3 & 7)), static_cast<char>('0' + (c & 7))};
    lo_buf.append(octal, 4);
  };
  std::mbstate_t state{};
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x80) {
      if ((c >= 0x20 && c < 0x7F) || (keepBreaks && (c == '\n' || c == '\t')))
        lo_buf += static_cast<char>(c);
      else
        escape(c);
      ++i;
      continue;
    }
    wchar_t wc;
    const size_t length = std::mbrtowc(&wc, p + i, n - i, &state);
    if (length == 0 || length > n - i) {  // not a character of the locale's set
      escape(c);
      state = std::mbstate_t{};
      ++i;
      continue;
    }
    if (std::iswprint(static_cast<wint_t>(wc)))
      lo_buf.append(p + i, length);
    else
      for (size_t k = 0; k < length; ++k) escape(static_cast<unsigned char>(p[i + k]));
    i += length;
  }
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
