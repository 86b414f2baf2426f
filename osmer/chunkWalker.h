// chunkWalker: walks the boxes or chunks of a container, one header at a
// time, inside a parent span.
//
// The containers the library reads are lists of length-prefixed records,
// whose headers differ by family:
//   isoBmff: 32-bit big-endian size, type; size 1: a 64-bit size follows
//            the type; size 0: the box runs to the end of its parent; type
//            'uuid': a 16-byte extended type follows (HEIF, AVIF, MP4, MOV,
//            CR3).
//   png:     32-bit big-endian length of the data, type, data, 32-bit CRC;
//            the walk ends after IEND, of which the header is enough.
//   riff:    type, 32-bit little-endian length of the data, data, a pad
//            byte after data of odd length (WebP, WAVE, AVI).
// The walker decodes each header, checks the record against its parent and
// the file, and gives it as a chunk; a format's code is then only its
// dispatch on the type:
//
//   chunkWalker top(file, chunkFamily::isoBmff, "HEIF container");
//   for (const chunk& c : top) {
//     if (c.type != fourcc("meta")) continue;
//     chunkWalker children = top.children(c, 4);  // after version and flags
//     for (const chunk& child : children) { ... cursor fields = top.dataOf(child); ... }
//     if (children.damage()) return *children.damage();
//   }
//   if (top.damage()) return *top.damage();
//
// A walk stops at the first damage, which then says what is wrong and
// where, in the library's words (damageText.h): a record that runs past the
// end of the file " is truncated: ...", one that runs past its parent, or
// declares an impossible size, " has a damaged CONTAINER: ...".  The walk
// has no count of its own to cap: every record takes at least its header's
// bytes, so its steps are bounded by the parent's size, and each step reads
// one header (the data is never read by the walker).
#ifndef ORVANE_OSMER_CHUNKWALKER_H
#define ORVANE_OSMER_CHUNKWALKER_H

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "byteReader.h"
#include "cursor.h"
#include "exceptions.h"
#include "orvaneExport.h"

// A four-character code as a number, its first character in the top byte:
// fourcc("meta"), fourcc("VP8 ").  The one way codes are written.
constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

enum class chunkFamily { isoBmff, png, riff };

// One box or chunk: positions in the file reader the walk goes over.
struct chunk {
  uint32_t type = 0;
  uint64_t start = 0;  // its header's first byte
  uint64_t data = 0;   // its data's first byte (after a 64-bit size, a uuid)
  uint64_t size = 0;   // its data's length
  uint64_t end = 0;    // past it (and past PNG's CRC, RIFF's pad byte)
  unsigned char uuid[16] = {};  // the extended type of an ISO BMFF 'uuid' box

  explicit operator bool() const { return end != 0; }  // a chunk was found
};

class ORVANE_EXPORT chunkWalker {
 public:
  // The records of a container, from begin (past the file's signature or
  // header) to end (the whole file when not given).  container names it in
  // damage texts ("HEIF container", "PNG file", "WebP file"), and its first
  // word names the records of PNG and RIFF ("WebP chunk EXIF at offset
  // 30"); a RIFF file's end is the one its header declares, which may lie
  // past the file's (its RIFF header is then the 12 bytes before begin).
  chunkWalker(const byteReader& file, chunkFamily family, const char* container,
              uint64_t begin = 0, uint64_t end = UINT64_MAX);
  // The records in parent's data, after its first skip bytes (a full box's
  // version and flags, an entry count).  Damage when the skipped fields do
  // not fit in the parent.
  chunkWalker children(const chunk& parent, uint64_t skip = 0) const;

  // Sets c to the next record and returns true; false at the parent's end
  // (the PNG walk: after IEND) or at damage.
  bool next(chunk& c);
  // What ended the walk, when damage did.
  const std::optional<misc_error>& damage() const { return w_damage; }

  // "the meta box at offset 24", "PNG chunk eXIf at offset 33", "WebP
  // chunk EXIF at offset 30": a record in damage texts.
  std::string name(const chunk& c) const;
  // A cursor over the record's data, which cannot be read past.
  cursor dataOf(const chunk& c) const;
  const byteReader& file() const { return w_file; }
  const char* container() const { return w_container; }
  // The parent's end as the walk bounds it.
  uint64_t parentEnd() const { return w_end; }

  // Ends the walk with damage found by the caller: damagedIn(container, what).
  bool fail(const std::string& what);
  bool fail(misc_error damage);

  // for (const chunk& c : walker): next() until it returns false.
  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = chunk;
    using difference_type = std::ptrdiff_t;
    using pointer = const chunk*;
    using reference = const chunk&;
    iterator() = default;
    explicit iterator(chunkWalker* w) : it_walker(w) { ++*this; }
    const chunk& operator*() const { return it_chunk; }
    const chunk* operator->() const { return &it_chunk; }
    iterator& operator++() {
      if (it_walker && !it_walker->next(it_chunk)) it_walker = nullptr;
      return *this;
    }
    bool operator==(const iterator& o) const { return it_walker == o.it_walker; }
    bool operator!=(const iterator& o) const { return it_walker != o.it_walker; }

   private:
    chunkWalker* it_walker = nullptr;
    chunk it_chunk;
  };
  iterator begin() { return iterator(this); }
  iterator end() { return iterator(); }

 private:
  bool decodeIso(uint64_t at, chunk& c);
  bool decodePng(uint64_t at, chunk& c);
  bool decodeRiff(uint64_t at, chunk& c);
  bool outside(const std::string& what);

  byteReader w_file;
  chunkFamily w_family;
  const char* w_container;
  uint64_t w_at;
  uint64_t w_end;
  bool w_nested = false;  // inside w_parent, not at the file's top level
  chunk w_parent;
  bool w_done = false;
  std::optional<misc_error> w_damage;
};

#endif
