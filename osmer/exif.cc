#include "exif.h"

#include <algorithm>
#include <new>
#include <string>

#include "damageText.h"
#include "exceptions.h"
#include "fieldKinds.h"
#include "numericFields.h"
#include "tiff.h"

namespace {

// A directory's offset is stored as SHORT, LONG or IFD (writers differ).
bool isPointer(const entry& e) {
  return (e.type() == tiff_short || e.type() == tiff_long || e.type() == tiff_ifd) && e.count() >= 1;
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
  if (order != tiff::littleEndianMark && order != tiff::bigEndianMark)
    damaged("no TIFF byte-order mark", 0);
  block.setBigEndian(order == tiff::bigEndianMark);
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
  throw damageText::damagedIn("EXIF block", what + damageText::atOffset(et_header.fileOffset(at)));
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
  if (uint32_t at = pointerOf(dir0, exifPointer)) et_exifOfIfd0 = readDirectory(ifd::exifIfd, at, nullptr);
  if (uint32_t at = pointerOf(dir0, gpsPointer)) readDirectory(ifd::gpsIfd, at, nullptr);
  if (uint32_t at = pointerOf(et_exifOfIfd0, interopPointer))
    readDirectory(ifd::interopIfd, at, nullptr);
  const ifd* dir1 = next ? readDirectory(ifd::ifd1, next, nullptr) : nullptr;
  // A TIFF file may keep its Exif IFD under IFD1.
  if (uint32_t at = pointerOf(dir1, exifPointer)) readDirectory(ifd::exifIfd, at, nullptr);
}

ifd* exif::readDirectory(ifd::kind_t kind, uint32_t offset, uint32_t* next) {
  tiff::directory table;
  if (visited(offset) || et_dirCount == maxDirectories || !table.open(et_stream.block(), offset))
    return nullptr;
  // Room for the entries, as many as the block holds after the count.
  const uint32_t room = table.room();
  auto slots = static_cast<field**>(et_arena.allocate(sizeof(field*) * room, alignof(field*)));
  ifd* dir = new (et_arena.allocate(sizeof(ifd), alignof(ifd))) ifd(kind, offset, slots, room);
  // Listed at once, so that ~exif destroys its fields whatever happens next.
  et_dirs[et_dirCount++] = dir;
  for (uint32_t i = 0; i < room; ++i) {
    const tiff::entry raw = table.at(i);
    const unsigned unit = tiffUnitSize(raw.type);
    if (unit == 0) continue;  // a type we cannot size
    const uint64_t bytes = uint64_t(raw.count) * unit;
    const entry e(raw.tag, raw.type, raw.count, static_cast<uint32_t>(raw.at + 8), raw.value);
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
  if (next) *next = table.next();
  return dir;
}

const field* exif::find(unsigned short tag, const ifd*& where) const {
  // A TIFF file is searched as its readers search it: IFD0's Exif IFD
  // before IFD0 itself.
  if (et_exifOfIfd0 && et_header.format() == exifFormat::tiff)
    if (const field* f = et_exifOfIfd0->find(tag)) {
      where = et_exifOfIfd0;
      return f;
    }
  for (const ifd* d : directories())
    if (const field* f = d->find(tag)) {
      where = d;
      return f;
    }
  return nullptr;
}
