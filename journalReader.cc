#include "journalReader.h"

#include <fcntl.h>
#include <unistd.h>

#include "exceptions.h"
#include "toolDriver.h"

namespace {

// A recursive-descent reader over one line.  Each step returns false on
// the first byte that does not fit.
class jsonCursor {
 public:
  jsonCursor(const char* p, size_t n) : jc_p(p), jc_end(p + n) {}

  bool object(journalLine& out, int depth) {
    if (!take('{')) return false;
    blanks();
    if (take('}')) return true;
    bool file = false, renamed = false;
    do {
      blanks();
      std::string key;
      if (!string(key)) return false;
      blanks();
      if (!take(':')) return false;
      blanks();
      if (depth == 0 && (key == "file" || key == "renamed")) {
        bool& seen = key == "file" ? file : renamed;
        if (seen) return false;
        seen = true;
        if (!string(key == "file" ? out.file : out.renamed)) return false;
      } else if (!value(depth)) {
        return false;
      }
      blanks();
    } while (take(','));
    return take('}') && (depth > 0 || file || !renamed);
  }

  bool atEnd() {
    blanks();
    return jc_p == jc_end;
  }

 private:
  bool take(char c) {
    if (jc_p == jc_end || *jc_p != c) return false;
    ++jc_p;
    return true;
  }
  void blanks() {
    while (jc_p != jc_end && (*jc_p == ' ' || *jc_p == '\t' || *jc_p == '\r')) ++jc_p;
  }
  bool word(const char* w) {
    for (; *w; ++w)
      if (!take(*w)) return false;
    return true;
  }

  bool value(int depth) {
    if (jc_p == jc_end || depth > 64) return false;
    std::string ignored;
    journalLine nested;
    switch (*jc_p) {
      case '"': return string(ignored);
      case '{': return object(nested, depth + 1);
      case '[': return array(depth + 1);
      case 't': return word("true");
      case 'f': return word("false");
      case 'n': return word("null");
      default: return number();
    }
  }

  bool array(int depth) {
    take('[');
    blanks();
    if (take(']')) return true;
    do {
      blanks();
      if (!value(depth)) return false;
      blanks();
    } while (take(','));
    return take(']');
  }

  bool digits() {
    const char* start = jc_p;
    while (jc_p != jc_end && *jc_p >= '0' && *jc_p <= '9') ++jc_p;
    return jc_p != start;
  }
  bool number() {
    take('-');
    if (!digits()) return false;
    if (take('.') && !digits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    return true;
  }

  bool hex4(unsigned& v) {
    if (jc_end - jc_p < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i, ++jc_p) {
      const char c = *jc_p;
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned>(d);
    }
    return true;
  }

  static void utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // A string; a name holds no NUL, so neither does a string read here.
  bool string(std::string& out) {
    if (!take('"')) return false;
    out.clear();
    while (jc_p != jc_end) {
      const unsigned char c = static_cast<unsigned char>(*jc_p++);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (jc_p == jc_end) return false;
      const char e = *jc_p++;
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned code;
          if (!hex4(code) || code == 0) return false;
          if (code >= 0xD800 && code <= 0xDBFF) {  // a pair's first half
            unsigned low;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC80 && code <= 0xDCFF) {  // a byte of no valid UTF-8
            out += static_cast<char>(code - 0xDC00);
            break;
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
          }
          utf8(out, code);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  const char* jc_p;
  const char* jc_end;
};

}  // namespace

bool parseJournalLine(const char* p, size_t n, journalLine& out) {
  out.file.clear();
  out.renamed.clear();
  jsonCursor c(p, n);
  return c.object(out, 0) && c.atEnd() && (out.renamed.empty() || !out.file.empty());
}

std::vector<journalLine> readJournal(const std::string& journal) {
  std::vector<journalLine> lines;
  std::string text;
  const int fd = open(journal.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reportLine(file_error(" unable to read the journal"), journal.c_str());
    return lines;
  }
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
    if (got > 0) text.append(buffer, static_cast<size_t>(got));
  const int err = errno;
  close(fd);
  if (got < 0) {
    reportLine(file_error(" unable to read the journal", err), journal.c_str());
    return lines;
  }
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    journalLine line;
    line.line = number;
    if (!parseJournalLine(text.data() + start, end - start, line)) {
      const std::string where = ": line " + std::to_string(number) + " is not a line that chronel writes";
      reportLine(misc_error(" unable to read the journal", where.c_str()), journal.c_str());
    } else if (!line.renamed.empty()) {
      lines.push_back(std::move(line));
    }
    start = end + 1;
  }
  return lines;
}
