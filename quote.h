// quote: the one engine that makes bytes from outside the tools (file names,
// a file's comment) safe where they are written: on a terminal, in a JSON
// string, in a PHP string.
//
// A style says three things: how the bytes are read as characters (as the
// locale's character set, as UTF-8, or byte by byte), which characters are
// escaped, and the form of an escape.  The examples give each style's
// output for the bytes shown in C notation.
//
//   terminal       For a name on a terminal: the locale's printable
//                  characters as they are; control characters, DEL, C1
//                  controls and bytes that are no character of the locale's
//                  set as a backslash and three octal digits, byte by byte.
//                  Nothing else changes, backslashes included.
//                    in UTF-8:  "caf\xc3\xa9\x1b[2J.jpg"  ->  caf\xc3\xa9\033[2J.jpg
//                    in C:      "caf\xc3\xa9.jpg"          ->  caf\303\251.jpg
//   terminalText   For a file's text on a terminal: as terminal, but a line
//                  break and a tab stay.
//                    "one\ntwo\t\x9b"  ->  one\ntwo\t\233   (in UTF-8; \n and \t as they are)
//   json           A JSON string (RFC 8259), double quotes included, of
//                  UTF-8: the quotation mark and the reverse solidus after
//                  a backslash, line feed and tab as \n and \t, the other
//                  controls, DEL and the C1 controls as \u00XX; a byte that
//                  is not part of valid UTF-8 as \udcXX (the surrogate
//                  escape by which Python's os.fsencode gives the byte back);
//                  other characters as they are.
//                    "say \"hi\"\n\xc3\xa9\xff"  ->  "say \"hi\"\n\xc3\xa9\udcff"
//   jsonAscii      As json, in ASCII only (for a terminal, whose character
//                  set may not be UTF-8): every other character as its
//                  \uXXXX escape, two of them (a surrogate pair) above U+FFFF.
//                    "\xc3\xa9 \xf0\x9f\x93\xb7\xff"  ->  "\u00e9 \ud83d\udcf7\udcff"
//   php            A PHP double-quoted string, double quotes included, read
//                  byte by byte: a backslash before each backslash, double
//                  quote and dollar sign, so that no name ends the string or
//                  interpolates a variable; all other bytes as they are.
//                    "a$b\"c\\d"  ->  "a\$b\"c\\d"
#ifndef ORVANE_QUOTE_H
#define ORVANE_QUOTE_H

#include <cstddef>
#include <string>

enum class quoteStyle { terminal, terminalText, json, jsonAscii, php };

// Appends the n bytes at p to out, quoted in style.
void quote(quoteStyle style, const char* p, size_t n, std::string& out);
// The bytes of s, quoted in style.
std::string quote(quoteStyle style, const std::string& s);

#endif
