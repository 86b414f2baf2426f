// Canon CRW files (the Camera Image File Format): "II" or "MM", a 32-bit
// header length, "HEAPCCDR"; the heap runs from the header's end to the
// end of the file.  A heap ends with the 32-bit offset of its record table
// (a 16-bit count, then 10-byte records: 16-bit tag, 32-bit size, 32-bit
// offset, both counted from the heap's start); a record whose tag's type
// bits say so is a heap itself.  A record whose location bits are 0x4000
// holds its value in its size and offset fields.
//
// The capture time is the TimeStamp record (0x180e) of the ImageProps heap
// (0x300a): three 32-bit values, the first the camera's wall clock as
// seconds since 1970 read as if UTC.  The nesting is fixed (the file's heap,
// ImageProps), so no depth comes from the file, and each table's records
// must lie between its start and the heap's last four bytes.
#include "containerFormats.h"
#include "damageText.h"

namespace containers {

namespace {

constexpr uint16_t imageProps = 0x300a, timeStamp = 0x180e;
constexpr uint16_t tagId = 0x3fff, location = 0xc000, inRecord = 0x4000;
constexpr uint64_t recordSize = 10;
const char* const container = "CRW file";

struct record {
  uint64_t data = 0;  // in the file
  uint64_t size = 0;
  bool found = false;
};

// The record with the tag in the heap of size bytes at `at`.
bool findRecord(const byteReader& file, uint64_t at, uint64_t size, uint16_t tag, record& r,
                std::optional<misc_error>& damage) {
  const std::string heap = "the heap" + damageText::atOffset(at);
  byteReader span;
  if (size < 4 || !file.sub(at, size, span)) {
    damage = damageText::damagedIn(container, heap + " is too short for its record table");
    return false;
  }
  cursor end(span, size - 4);
  const uint32_t tableAt = end.u32();
  cursor table(span, tableAt);
  const uint16_t count = table.u16();
  // The records lie between the count and the table's offset.
  if (!table || table.pos() > size - 4 || uint64_t(count) * recordSize > size - 4 - table.pos()) {
    damage = damageText::damagedIn(container, heap + " has a record table" + damageText::atOffset(at + tableAt) +
                                                  " that runs past the heap");
    return false;
  }
  for (uint16_t i = 0; i < count; ++i) {
    const uint64_t recordAt = at + table.pos();
    const uint16_t t = table.u16();
    const uint32_t length = table.u32();
    const uint32_t offset = table.u32();
    if ((t & tagId) != tag) continue;
    r.found = true;
    if ((t & location) == inRecord) {
      r.data = recordAt + 2;
      r.size = 8;
    } else if (offset > size - 4 || length > size - 4 - offset) {
      damage = damageText::damagedIn(container, "the record" + damageText::atOffset(recordAt) +
                                                    " points past the end of its heap");
      return false;
    } else {
      r.data = at + offset;
      r.size = length;
    }
    return true;
  }
  return true;
}

}  // namespace

bool isCrw(const byteReader& head) {
  uint8_t a = 0, b = 0;
  return head.u8At(0, a) && head.u8At(1, b) && a == b && (a == 'I' || a == 'M') &&
         head.startsWith(6, "HEAPCCDR", 8);
}

exifLocation locateInCrw(fileImage& image) {
  const exifFormat crw = exifFormat::crw;
  byteReader file = image.reader();
  uint8_t order = 0;
  file.u8At(0, order);
  file.setBigEndian(order == 'M');
  cursor header(file, 2);
  const uint32_t headerLength = header.u32();
  if (headerLength < 14 || headerLength > file.size())
    return failed(crw, damageText::damagedIn(container, "the header declares a length of " +
                                                                std::to_string(headerLength)));
  std::optional<misc_error> damage;
  record props, stamp;
  if (!findRecord(file, headerLength, file.size() - headerLength, imageProps, props, damage) ||
      (props.found && !findRecord(file, props.data, props.size, timeStamp, stamp, damage)))
    return failed(crw, *damage);
  exifLocation l = noExif(crw);
  if (!stamp.found) return l;
  cursor value(file, stamp.data);
  const uint32_t seconds = value.u32();
  if (!value || stamp.size < 4)
    return failed(crw, damageText::damagedIn(container, "the TimeStamp record" + damageText::atOffset(stamp.data) +
                                                                " is too short for its value"));
  l.time.kind = recordedTime::timeStamp;
  l.time.seconds = seconds;
  return l;
}

}  // namespace containers
