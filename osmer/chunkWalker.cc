#include "chunkWalker.h"

#include <utility>

#include "damageText.h"

using damageText::atOffset;
using damageText::fourccText;

namespace {

constexpr uint32_t IEND = fourcc("IEND");
constexpr uint32_t uuidType = fourcc("uuid");
constexpr uint32_t largestPngLength = 0x7FFFFFFF;  // PNG's limit on a chunk's length

bool isLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isPngType(uint32_t type) {
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!isLetter(static_cast<uint8_t>(type >> shift))) return false;
  return true;
}

// A container's records are called by its first word: "WebP chunk EXIF".
std::string firstWord(const char* container) {
  const std::string text = container;
  return text.substr(0, text.find(' '));
}

}  // namespace

chunkWalker::chunkWalker(const byteReader& file, chunkFamily family, const char* container,
                         uint64_t begin, uint64_t end)
    : w_file(file), w_family(family), w_container(container), w_at(begin),
      w_end(family == chunkFamily::riff ? end : end < file.size() ? end : file.size()) {}

chunkWalker chunkWalker::children(const chunk& parent, uint64_t skip) const {
  chunkWalker w(*this);
  w.w_at = parent.data + skip;
  w.w_end = parent.data + parent.size;
  w.w_nested = true;
  w.w_parent = parent;
  w.w_done = false;
  w.w_damage.reset();
  if (skip > parent.size) w.fail(name(parent) + " is too short for its fields");
  return w;
}

std::string chunkWalker::name(const chunk& c) const {
  const std::string at = atOffset(w_file.origin() + c.start);
  if (w_family == chunkFamily::isoBmff) return "the " + fourccText(c.type) + " box" + at;
  return firstWord(w_container) + " chunk " + fourccText(c.type) + at;
}

cursor chunkWalker::dataOf(const chunk& c) const {
  cursor all(w_file, c.data);
  return all.sub(c.size);
}

bool chunkWalker::fail(const std::string& what) {
  return fail(damageText::damagedIn(w_container, what));
}

bool chunkWalker::fail(misc_error damage) {
  w_damage = std::move(damage);
  w_done = true;
  return false;
}

// A record, or its header, that does not lie inside its parent: past the
// file's end at the top level, past the parent's inside another record.
bool chunkWalker::outside(const std::string& what) {
  if (w_nested) return fail(what + " runs past its parent");
  return fail(damageText::truncated(what + " runs past the end of the file"));
}

bool chunkWalker::next(chunk& c) {
  if (w_done) return false;
  switch (w_family) {
    case chunkFamily::isoBmff:
      if (w_at < w_end && decodeIso(w_at, c)) break;
      w_done = true;
      return false;
    case chunkFamily::png:
      if (w_at < w_end && decodePng(w_at, c)) break;
      w_done = true;
      return false;
    case chunkFamily::riff:
      if (w_at < w_end && decodeRiff(w_at, c)) break;
      w_done = true;
      return false;
  }
  w_at = c.end;
  return true;
}

bool chunkWalker::decodeIso(uint64_t at, chunk& c) {
  c = chunk();
  c.start = at;
  cursor h(w_file, at);
  if (w_end - at < 8) return outside("the box header" + atOffset(w_file.origin() + at));
  const uint32_t size = h.u32be();
  c.type = h.fourcc();
  if (!h) return outside("the box header" + atOffset(w_file.origin() + at));
  uint64_t length = size;
  if (size == 1) {  // a 64-bit size follows the type
    if (w_end - at < 16) return outside(name(c));
    length = h.u64be();
    if (!h) return outside(name(c));
    if (length < 16) return fail(name(c) + " declares a size of " + std::to_string(length));
  } else if (size == 0) {  // the box runs to the end of its parent
    length = w_end - at;
  } else if (size < 8) {
    return fail(name(c) + " declares a size of " + std::to_string(size));
  }
  if (length > w_end - at) return outside(name(c));
  c.end = at + length;
  // The extended type of a uuid box, when the box holds one.
  if (c.type == uuidType && c.end - h.pos() >= sizeof c.uuid) h.bytes(c.uuid, sizeof c.uuid);
  c.data = h.pos();
  c.size = c.end - c.data;
  return true;
}

bool chunkWalker::decodePng(uint64_t at, chunk& c) {
  c = chunk();
  c.start = at;
  cursor h(w_file, at);
  const uint32_t length = h.u32be();
  c.type = h.fourcc();
  if (!h)
    return fail(damageText::truncated("the PNG chunk header" + atOffset(w_file.origin() + at) +
                                      " runs past the end of the file"));
  if (!isPngType(c.type))
    return fail("the chunk" + atOffset(w_file.origin() + at) + " has no valid type (" +
                fourccText(c.type) + ")");
  if (length > largestPngLength)
    return fail(name(c) + " declares " + std::to_string(length) + " bytes of data");
  c.data = at + 8;
  c.size = length;
  c.end = c.data + length + 4;  // and the CRC
  // Of IEND, the last chunk, only the header must lie in the file.
  if (c.type == IEND) {
    w_end = c.end;
    return true;
  }
  if (c.end > w_file.size()) return fail(damageText::truncated(name(c) + " runs past the end of the file"));
  return true;
}

bool chunkWalker::decodeRiff(uint64_t at, chunk& c) {
  c = chunk();
  c.start = at;
  cursor h(w_file, at);
  c.type = h.fourcc();
  const uint32_t length = h.u32le();
  if (!h) {
    if (at != w_file.size())
      return fail(damageText::truncated("the " + firstWord(w_container) + " chunk header" +
                                        atOffset(w_file.origin() + at) +
                                        " runs past the end of the file"));
    // The file ends where the parent says more chunks follow.
    const std::string parent =
        w_nested ? name(w_parent) : "the RIFF container" + atOffset(w_file.origin());
    return fail(damageText::truncated(parent + " runs past the end of the file"));
  }
  c.data = at + 8;
  c.size = length;
  const uint64_t dataEnd = c.data + length;
  c.end = dataEnd + (length & 1);
  if (dataEnd > w_file.size()) return fail(damageText::truncated(name(c) + " runs past the end of the file"));
  if (dataEnd > w_end)
    return fail(name(c) + (w_nested ? " runs past its parent" : " runs past the end of its RIFF container"));
  return true;
}
