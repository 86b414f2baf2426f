#include "quote.h"

#include <clocale>
#include <cwchar>
#include <cwctype>

namespace {

enum class charset { bytes, locale, utf8 };

struct styleRules {
  charset set;
  bool quotes;      // enclosed in double quotes
  bool keepBreaks;  // terminal: a line break and a tab stay
  bool ascii;       // json: nothing but ASCII
};

styleRules rulesOf(quoteStyle style) {
  switch (style) {
    case quoteStyle::terminal: return {charset::locale, false, false, false};
    case quoteStyle::terminalText: return {charset::locale, false, true, false};
    case quoteStyle::json: return {charset::utf8, true, false, false};
    case quoteStyle::jsonAscii: return {charset::utf8, true, false, true};
    case quoteStyle::php: break;
  }
  return {charset::bytes, true, false, false};
}

// The length of the well-formed UTF-8 sequence that starts at p[0] (a byte
// of 0x80 or more), or 0 when there is none: no overlong forms, no
// surrogates, nothing above U+10FFFF.
size_t utf8Length(const unsigned char* p, size_t n) {
  const unsigned char c = p[0];
  size_t length;
  unsigned char lo = 0x80, hi = 0xBF;  // the bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < length || p[1] < lo || p[1] > hi) return 0;
  for (size_t k = 2; k < length; ++k)
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  return length;
}

char32_t utf8Code(const unsigned char* p, size_t length) {
  char32_t code = p[0] & (0xFF >> (length + 1));
  for (size_t k = 1; k < length; ++k) code = code << 6 | (p[k] & 0x3F);
  return code;
}

void octal(unsigned char c, std::string& out) {
  const char e[4] = {'\\', static_cast<char>('0' + (c >> 6)), static_cast<char>('0' + (c >> 3 & 7)),
                     static_cast<char>('0' + (c & 7))};
  out.append(e, 4);
}

void unicode(unsigned code, std::string& out) {
  static const char hex[] = "0123456789abcdef";
  const char e[6] = {'\\', 'u', hex[code >> 12 & 0xF], hex[code >> 8 & 0xF], hex[code >> 4 & 0xF],
                     hex[code & 0xF]};
  out.append(e, 6);
}

// One character of the input: its length in bytes and its code, or none
// when the bytes at p are no character of the set (then one byte is taken).
struct character {
  size_t length;
  bool valid;
  char32_t code;
};

character next(charset set, const unsigned char* p, size_t n, std::mbstate_t& state) {
  if (p[0] < 0x80 || set == charset::bytes) return {1, true, p[0]};
  if (set == charset::utf8) {
    const size_t length = utf8Length(p, n);
    if (length == 0) return {1, false, p[0]};
    return {length, true, utf8Code(p, length)};
  }
  wchar_t wc;
  const size_t length = std::mbrtowc(&wc, reinterpret_cast<const char*>(p), n, &state);
  if (length == 0 || length > n) {  // not a character of the locale's set
    state = std::mbstate_t{};
    return {1, false, p[0]};
  }
  return {length, true, static_cast<char32_t>(wc)};
}

// Appends character ch at p as the style writes it.
void put(const styleRules& r, const unsigned char* p, const character& ch, std::string& out) {
  const char32_t c = ch.code;
  switch (r.set) {
    case charset::locale:  // a terminal
      if (ch.valid && (c < 0x80 ? (c >= 0x20 && c < 0x7F) || (r.keepBreaks && (c == '\n' || c == '\t'))
                                : std::iswprint(static_cast<wint_t>(c)) != 0))
        out.append(reinterpret_cast<const char*>(p), ch.length);
      else
        for (size_t k = 0; k < ch.length; ++k) octal(p[k], out);
      return;
    case charset::utf8:  // JSON
      if (!ch.valid) {
        unicode(0xDC00 + p[0], out);
      } else if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        unicode(c, out);
      } else if (c < 0x80 || !r.ascii) {
        out.append(reinterpret_cast<const char*>(p), ch.length);
      } else if (c > 0xFFFF) {
        unicode(0xD800 + ((c - 0x10000) >> 10), out);
        unicode(0xDC00 + ((c - 0x10000) & 0x3FF), out);
      } else {
        unicode(c, out);
      }
      return;
    case charset::bytes:  // PHP
      if (c == '\\' || c == '"' || c == '$') out += '\\';
      out += static_cast<char>(c);
      return;
  }
}

// Whether byte c is written as it is wherever it stands: ASCII that the
// style leaves alone (for PHP, every byte but the three it escapes).
bool plain(const styleRules& r, unsigned char c) {
  switch (r.set) {
    case charset::locale: return c >= 0x20 && c < 0x7F;
    case charset::utf8: return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
    case charset::bytes: break;
  }
  return c != '\\' && c != '"' && c != '$';
}

}  // namespace

void quote(quoteStyle style, const char* p, size_t n, std::string& out) {
  const styleRules r = rulesOf(style);
  // Which characters are printable is the locale's to say, looked up the
  // first time a terminal needs it.
  if (r.set == charset::locale) {
    static const bool localeRead = (std::setlocale(LC_CTYPE, ""), true);
    (void)localeRead;
  }
  if (r.quotes) out += '"';
  const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(p);
  std::mbstate_t state{};
  for (size_t i = 0; i < n;) {
    // A run of plain bytes goes out at once.
    size_t run = i;
    while (run < n && plain(r, bytes[run])) ++run;
    out.append(p + i, run - i);
    i = run;
    if (i == n) break;
    const character ch = next(r.set, bytes + i, n - i, state);
    put(r, bytes + i, ch, out);
    i += ch.length;
  }
  if (r.quotes) out += '"';
}

std::string quote(quoteStyle style, const std::string& s) {
  std::string out;
  out.reserve(s.size() + 2);
  quote(style, s.data(), s.size(), out);
  return out;
}
