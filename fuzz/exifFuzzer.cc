// Fuzz target: EXIF parsing of a TIFF block, every field populated, visited
// and rendered through the text handlers, then the capture-time lookup.
//
// The input is the TIFF data of an EXIF APP1 segment (byte-order mark
// first); the target wraps it in a minimal JPEG file.  Inputs longer than
// one segment can hold are cut to fit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "asciiField.h"
#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "exifTag.h"
#include "fieldHandler.h"
#include "jfif.h"
#include "memFile.h"
#include "numericFields.h"
#include "textHandlerMap.h"
#include "undefinedField.h"
#include "util.h"

namespace {

constexpr size_t maxBlock = 65535 - 2 - 6;

volatile unsigned sink;

unsigned touch(const void* p, uint64_t n) {
  byteReader r(static_cast<const unsigned char*>(p), static_cast<size_t>(n));
  unsigned sum = 0;
  uint8_t b;
  for (uint64_t i = 0; r.u8At(i, b); ++i) sum += b;
  return sum;
}

// Reads every value of every kind of field, so that a value the parser got
// wrong (outside its buffer, uninitialised) is caught by the sanitizers.
class toucher final : public fieldHandler {
 public:
  void handleAscii(const asciiField& f) override {
    FUZZ_CHECK(f.value() != nullptr);
    sink += touch(f.value(), f.count());
  }
  void handleInteger(const integerField& f) override {
    for (uint32_t i = 0; i < f.count(); ++i) sink += static_cast<unsigned>(f.value(i));
  }
  void handleRational(const rationalField& f) override {
    for (uint32_t i = 0; i < f.count(); ++i)
      sink += static_cast<unsigned>(f.numerator(i) ^ f.denominator(i));
  }
  void handleUndefined(const undefinedField& f) override {
    if (f.value()) sink += touch(f.value(), f.count());
  }
  void handleReal(const realField& f) override {
    for (uint32_t i = 0; i < f.count(); ++i) sink += f.value(i) > 0;
  }
};

std::vector<uint8_t> wrap(const uint8_t* data, size_t size) {
  if (size > maxBlock) size = maxBlock;
  const size_t length = 2 + 6 + size;
  std::vector<uint8_t> file = {0xFF, 0xD8, 0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length),
                               'E',  'x',  'i',  'f',  0,                    0};
  file.insert(file.end(), data, data + size);
  file.push_back(0xFF);
  file.push_back(0xD9);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC0", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static memFile input;
  const std::vector<uint8_t> file = wrap(data, size);
  input.set(file.data(), file.size());
  try {
    jfif jfif_file(input.path());
    exifHeader e1(jfif_file);
    FUZZ_CHECK(e1.wellFormed());
    exif set(e1);
    set.populate();
    set.populate();  // a second call changes nothing
    toucher t;
    for (const auto& dir : set.directories()) {
      FUZZ_CHECK(dir->name() != nullptr);
      for (const auto& f : dir->fields()) {
        f->handleField(t);
        if (const tag* known = exifTag::find(f->tag())) FUZZ_CHECK(known->name() != nullptr);
        const textHandler* h = plainHandlers::map.findHandler(f->tag());
        FUZZ_CHECK(h != nullptr);
        const char* text = h->fieldText(dir, f);
        FUZZ_CHECK(text != nullptr);
        sink += static_cast<unsigned>(std::strlen(text));
      }
    }
    // find returns the first field with the tag, from a directory of the set.
    const ifd* where = nullptr;
    if (const field* f = set.find(0x9003, where)) {
      FUZZ_CHECK(where != nullptr && f->tag() == 0x9003);
      try {
        sink += static_cast<unsigned>(exif_time("input.jpg", &set));
      } catch (const misc_error&) {
      }
    }
  } catch (const misc_error&) {
  }
  return 0;
}
