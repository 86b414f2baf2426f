#include "exif.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>

#include "exceptions.h"
#include "fieldKinds.h"
#include "numericFields.h"

namespace {

constexpr uint16_t littleEndianMark = 0x4949;  // "II"
constexpr uint16_t bigEndianMark = 0x4D4D;     // "MM"
constexpr uint64_t entrySize = 12;

constexpr uint32_t tiffHeaderSize = 8;

bool isPointer(const entry& e) {
  return (e.type() == tiff_long || e.type() == tiff_ifd) && e.count() >= 1;
}

}  // namespace

exif::exif(exifHeader& header) : et_header(header) {
  if (int err = header.file().err()) throw file_error(" unable to open", err);
  if (!header.wellFormed()) {
    if (header.damage()) throw *header.damage();
    throw misc_error("", " has no EXIF data");
  }
  byteReader block = header.block();
  uint16_t order = 0;
  block.u16At(0, order);
  if (order != littleEndianMark && order != bigEndianMark)
    damaged("no TIFF byte-order mark", 0);
  block.setBigEndian(order == bigEndianMark);
  uint16_t magic = 0;
  if (!block.u16At(2, magic) || magic != header.tiffMagic() || !block.u32At(4, et_ifd0))
    damaged("no TIFF header", 0);
  et_stream = mstream(block);
  et_valueBudget = valueBudgetBlocks * std::min<uint64_t>(block.size(), largestBudgetedBlock);
  // Without libvarden's kinds every ASCII field would be dropped without a
  // word, and a photograph would seem to lack its capture time.
  if (const char* missing = missingFieldKinds()) missingLibrary(missing);
}

exif::~exif() {
  for (const ifd* d : directories())
    for (field* f : d->fields()) f->~field();
}

void exif::missingLibrary(const char* library) {
  const std::string text = ": " + std::string(library) +
                           " is not loaded (no ASCII and UNDEFINED field kinds)";
  throw misc_error(" unable to read the EXIF fields of", text.c_str());
}

void exif::damaged(const char* what, uint64_t at) const {
  char text[160];
  std::snprintf(text, sizeof text, " has a damaged EXIF block: %s at offset %llu", what,
                static_cast<unsigned long long>(et_header.fileOffset(at)));
  throw misc_error("", text);
}

bool exif::visited(uint32_t offset) const {
  for (const ifd* d : directories())
    if (d->offset() == offset) return true;
  return false;
}

void exif::populate() {
  if (et_populated) return;
  et_populated = true;
  uint32_t next = 0;
  if (!readDirectory(ifd::ifd0, et_ifd0, &next)) damaged("IFD0 lies outside the block", 4);
  // Read the sub-directory pointers of IFD0 and the Exif IFD from their fields.
  // The pointer is the field's first value; with more than one value the
  // entry's value field holds where they are, not the directory.
  auto pointerOf = [](const ifd* dir, unsigned short tag) -> uint32_t {
    const field* f = dir ? dir->find(tag) : nullptr;
    if (!f || !isPointer(f->fieldEntry())) return 0;
    const auto* n = dynamic_cast<const integerField*>(f);
    return n && n->count() ? static_cast<uint32_t>(n->value(0)) : 0;
  };
  const ifd* dir0 = et_dirs[0];
  const ifd* exifDir = nullptr;
  if (uint32_t at = pointerOf(dir0, exifPointer)) exifDir = readDirectory(ifd::exifIfd, at, nullptr);
  if (uint32_t at = pointerOf(dir0, gpsPointer)) readDirectory(ifd::gpsIfd, at, nullptr);
  if (uint32_t at = pointerOf(exifDir, interopPointer))
    readDirectory(ifd::interopIfd, at, nullptr);
  if (next) readDirectory(ifd::ifd1, next, nullptr);
}

ifd* exif::readDirectory(ifd::kind_t kind, uint32_t offset, uint32_t* next) {
  const byteReader& block = et_stream.block();
  uint16_t count = 0;
  if (offset < tiffHeaderSize || visited(offset) || !block.u16At(offset, count) ||
      et_dirCount == maxDirectories)
    return nullptr;
  uint64_t at = uint64_t(offset) + 2;
  // Room for the entries, as many as the block can hold after the count.
  const auto room = static_cast<uint32_t>(std::min<uint64_t>(count, (block.size() - at) / entrySize));
  auto slots = static_cast<field**>(et_arena.allocate(sizeof(field*) * room, alignof(field*)));
  ifd* dir = new (et_arena.allocate(sizeof(ifd), alignof(ifd))) ifd(kind, offset, slots, room);
  // Listed at once, so that ~exif destroys its fields whatever happens next.
  et_dirs[et_dirCount++] = dir;
  for (unsigned i = 0; i < count; ++i, at += entrySize) {
    // One bounds check for the whole entry; its four fields then lie
    // inside a reader of known size.
    byteReader raw;
    if (!block.sub(at, entrySize, raw)) break;  // the table runs past the block: it ends here
    uint16_t tag = 0, type = 0;
    uint32_t n = 0, value = 0;
    raw.u16At(0, tag);
    raw.u16At(2, type);
    raw.u32At(4, n);
    raw.u32At(8, value);
    const unsigned unit = tiffUnitSize(type);
    if (unit == 0) continue;  // a type we cannot size
    const uint64_t bytes = uint64_t(n) * unit;
    const entry e(tag, type, n, static_cast<uint32_t>(at + 8), value);
    if (!et_stream.seekValue(e)) continue;  // value outside the block
    // Values stored apart from their entries are read only while all of
    // them together stay within a few times the block.  Sound directories
    // never come near that, since their values do not overlap; a hostile
    // block could otherwise point thousands of entries at one large value
    // and have a 64 KB segment cost hundreds of megabytes of copies.
    if (bytes > 4) {
      if (bytes > et_valueBudget) continue;
      et_valueBudget -= bytes;
    }
    fieldPtr f = makeField(e, et_arena);
    if (!f || !dir->add(f.get())) continue;
    f.release()->populate(et_stream);
  }
  if (next && !block.u32At(uint64_t(offset) + 2 + entrySize * count, *next)) *next = 0;
  return dir;
}

const field* exif::find(unsigned short tag, const ifd*& where) const {
  for (const ifd* d : directories())
    if (const field* f = d->find(tag)) {
      where = d;
      return f;
    }
  return nullptr;
}
