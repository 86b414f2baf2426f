// cursor: reads a run of fields from a byteReader span, front to back.
//
// A cursor is a position in a span and a sticky failure.  A read that does
// not fit in what is left of the span fails: it returns 0, leaves the
// position where it was, and every read after it fails too.  So a parser
// reads a record's fields one after the other and checks once:
//
//   cursor c(file, at);                  // file: a byteReader
//   const uint32_t size = c.u32be();
//   const uint32_t type = c.u32be();
//   cursor fields = c.sub(size - 8);     // a child that cannot be read past
//   const uint8_t version = fields.u8();
//   fields.skip(3);                      // flags
//   if (!fields) return damage(...);     // any of the reads failed
//
// Reads name their byte order (u16be, u32le, ...); u16() and u32() take the
// span's own (TIFF's, set by its byte-order mark).  Positions are the
// span's (0 is its first byte); fileOffset() tells where a position lies in
// the file, for damage texts.  Over a file image the span's pages are
// loaded as they are read (byteReader), never before.
#ifndef ORVANE_OSMER_CURSOR_H
#define ORVANE_OSMER_CURSOR_H

#include <cstddef>
#include <cstdint>

#include "byteReader.h"

class cursor {
 public:
  // Over no bytes: every read fails.
  cursor() = default;
  explicit cursor(const byteReader& span, uint64_t pos = 0)
      : c_span(span), c_pos(pos), c_failed(pos > span.size()) {}

  // True while no read has failed.
  explicit operator bool() const { return !c_failed; }
  bool failed() const { return c_failed; }
  // Makes the run fail, for a check of the caller's own (a field's value).
  void fail() { c_failed = true; }

  uint64_t pos() const { return c_pos; }
  uint64_t size() const { return c_span.size(); }
  uint64_t left() const { return c_pos < c_span.size() ? c_span.size() - c_pos : 0; }
  bool atEnd() const { return c_pos >= c_span.size(); }
  // The file position of a position of the span (its own by default).
  uint64_t fileOffset() const { return c_span.origin() + c_pos; }
  uint64_t fileOffset(uint64_t pos) const { return c_span.origin() + pos; }
  const byteReader& span() const { return c_span; }

  uint8_t u8() {
    const unsigned char* p = take(1);
    return p ? p[0] : 0;
  }
  uint16_t u16be() {
    const unsigned char* p = take(2);
    return p ? static_cast<uint16_t>(p[0] << 8 | p[1]) : 0;
  }
  uint16_t u16le() {
    const unsigned char* p = take(2);
    return p ? static_cast<uint16_t>(p[1] << 8 | p[0]) : 0;
  }
  uint32_t u24be() {
    const unsigned char* p = take(3);
    return p ? uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2] : 0;
  }
  uint32_t u32be() {
    const unsigned char* p = take(4);
    return p ? be32(p) : 0;
  }
  uint32_t u32le() {
    const unsigned char* p = take(4);
    return p ? le32(p) : 0;
  }
  uint64_t u64be() {
    const unsigned char* p = take(8);
    return p ? uint64_t(be32(p)) << 32 | be32(p + 4) : 0;
  }
  uint64_t u64le() {
    const unsigned char* p = take(8);
    return p ? uint64_t(le32(p + 4)) << 32 | le32(p) : 0;
  }
  // In the span's byte order.
  uint16_t u16() { return c_span.bigEndian() ? u16be() : u16le(); }
  uint32_t u32() { return c_span.bigEndian() ? u32be() : u32le(); }
  // A big-endian number of 0 to 8 bytes (ISO BMFF's sized fields); 0 bytes
  // read nothing and give 0.
  uint64_t uintBe(unsigned bytes) {
    if (bytes == 0) return 0;
    if (bytes > 8) {
      fail();
      return 0;
    }
    const unsigned char* p = take(bytes);
    uint64_t v = 0;
    if (p)
      for (unsigned i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
  }
  // A four-character code, as written: its first character in the top byte.
  uint32_t fourcc() { return u32be(); }

  // Copies the next n bytes.
  bool bytes(void* out, uint64_t n) {
    if (n == 0) return !c_failed;
    const unsigned char* p = take(n);
    if (!p) return false;
    for (uint64_t i = 0; i < n; ++i) static_cast<unsigned char*>(out)[i] = p[i];
    return true;
  }
  // True, and moves past them, when the next n bytes are text; else stays
  // (a mismatch is no failure: the caller decides what it means).
  bool skipIf(const void* text, size_t n) {
    if (c_failed || !c_span.startsWith(c_pos, text, n)) return false;
    c_pos += n;
    return true;
  }
  void skip(uint64_t n) {
    if (c_failed || n > left()) fail();
    else c_pos += n;
  }
  void seek(uint64_t pos) {
    if (c_failed || pos > c_span.size()) fail();
    else c_pos = pos;
  }

  // The next n bytes as a cursor of their own, which cannot read past them;
  // this cursor moves past them.  A failed cursor when they are not there.
  cursor sub(uint64_t n) {
    cursor child;
    if (!c_failed && c_span.sub(c_pos, n, child.c_span)) {
      child.c_failed = false;
      c_pos += n;
    } else {
      fail();
    }
    return child;
  }
  // The rest of the span as a cursor of its own.
  cursor rest() { return sub(left()); }
  // The next n bytes as a reader (for a field kind or a table read at
  // random); this cursor moves past them.  Empty when they are not there.
  byteReader span(uint64_t n) {
    byteReader r;
    if (!c_failed && c_span.sub(c_pos, n, r)) c_pos += n;
    else fail();
    return r;
  }

 private:
  // The n bytes at the position, which then moves past them; null (and the
  // run failed) when they do not lie in what is left.
  const unsigned char* take(uint64_t n) {
    const unsigned char* p = nullptr;
    if (c_failed || !c_span.viewAt(c_pos, n, p)) {
      fail();
      return nullptr;
    }
    c_pos += n;
    return p;
  }
  static uint32_t be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  }
  static uint32_t le32(const unsigned char* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

  byteReader c_span;
  uint64_t c_pos = 0;
  bool c_failed = true;  // a default cursor has nothing to read

  friend class chunkWalker;
};

#endif
