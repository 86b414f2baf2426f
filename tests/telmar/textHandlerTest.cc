// The text handlers: choosing a handler for a tag, and the plain rendering
// of every field kind in both byte orders.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "asciiField.h"
#include "fieldKinds.h"
#include "mstream.h"
#include "textHandlerMap.h"

namespace {

using bytes = std::vector<unsigned char>;

// Values as a field of the type would hold them, in either byte order.
struct encoder {
  bool big;
  bytes out;
  encoder& u8(uint8_t v) {
    out.push_back(v);
    return *this;
  }
  encoder& u16(uint16_t v) {
    return big ? u8(uint8_t(v >> 8)).u8(uint8_t(v)) : u8(uint8_t(v)).u8(uint8_t(v >> 8));
  }
  encoder& u32(uint32_t v) {
    return big ? u16(uint16_t(v >> 16)).u16(uint16_t(v)) : u16(uint16_t(v)).u16(uint16_t(v >> 16));
  }
  encoder& u64(uint64_t v) {
    return big ? u32(uint32_t(v >> 32)).u32(uint32_t(v)) : u32(uint32_t(v)).u32(uint32_t(v >> 32));
  }
  encoder& f32(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return u32(b);
  }
  encoder& f64(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return u64(b);
  }
  encoder& text(const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
    return *this;
  }
};

// The plain text of a field holding value: the block is the entry's 4-byte
// value field, then (for longer values) the value itself at position 4.
std::string render(bool big, unsigned short tag, unsigned short type, uint32_t count, const bytes& value) {
  bytes block(4, 0);
  if (value.size() <= 4) {
    std::copy(value.begin(), value.end(), block.begin());
  } else {
    block.insert(block.end(), value.begin(), value.end());
  }
  mstream m{byteReader(block.data(), block.size(), big)};
  fieldArena arena;
  fieldPtr f = makeField(entry(tag, type, count, 0, 4), arena);
  if (!f) return "(no field)";
  f->populate(m);
  const textHandler* h = plainHandlers::map.findHandler(tag);
  if (!h) return "(no handler)";
  const char* t = h->fieldText(nullptr, f.get());
  if (!t) return "(null)";
  return t;
}

class PlainText : public ::testing::TestWithParam<bool> {
 protected:
  encoder enc() const { return encoder{GetParam(), {}}; }
};

std::string orderName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "MM" : "II";
}

TEST_P(PlainText, AsciiEndsAtTheFirstNulWithinTheCount) {
  const bool big = GetParam();
  const struct {
    const char* what;
    std::string stored;
    uint32_t count;
    const char* text;
  } rows[] = {
      {"a camera's date", std::string("2004:01:05 10:00:00\0", 20), 20, "2004:01:05 10:00:00"},
      {"the date without its NUL", "2004:01:05 10:00:00", 19, "2004:01:05 10:00:00"},
      {"padding NULs", std::string("Maker\0\0\0", 8), 8, "Maker"},
      {"text after a NUL", std::string("ab\0cd", 5), 5, "ab"},
      {"short value in the entry", std::string("N\0", 2), 2, "N"},
      {"four bytes in the entry, no NUL", "WXYZ", 4, "WXYZ"},
      {"only a NUL", std::string("\0", 1), 1, ""},
      {"count 0", "", 0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(render(big, 0x9003, tiff_ascii, r.count, bytes(r.stored.begin(), r.stored.end())), r.text);
  }
}

TEST_P(PlainText, NumbersInDecimalSeparatedByBlanks) {
  const struct {
    const char* what;
    unsigned short type;
    uint32_t count;
    bytes value;
    const char* text;
  } rows[] = {
      {"BYTE", tiff_byte, 3, enc().u8(0).u8(7).u8(255).out, "0 7 255"},
      {"SBYTE", tiff_sbyte, 2, enc().u8(0xFF).u8(0x7F).out, "-1 127"},
      {"SHORT", tiff_short, 2, enc().u16(1).u16(65535).out, "1 65535"},
      {"three SHORTs", tiff_short, 3, enc().u16(8).u16(256).u16(4096).out, "8 256 4096"},
      {"SSHORT", tiff_sshort, 1, enc().u16(0x8000).out, "-32768"},
      {"LONG", tiff_long, 2, enc().u32(0xFFFFFFFFu).u32(0x01020304).out, "4294967295 16909060"},
      {"SLONG", tiff_slong, 2, enc().u32(0x80000000u).u32(0xFFFFFFFFu).out, "-2147483648 -1"},
      {"IFD", tiff_ifd, 1, enc().u32(26).out, "26"},
      {"RATIONAL", tiff_rational, 1, enc().u32(1).u32(250).out, "1/250"},
      {"large RATIONAL", tiff_rational, 1, enc().u32(0xFFFFFFFFu).u32(1).out, "4294967295/1"},
      {"two RATIONALs", tiff_rational, 2, enc().u32(72).u32(1).u32(300).u32(1).out, "72/1 300/1"},
      {"RATIONAL over 0", tiff_rational, 1, enc().u32(1).u32(0).out, "1/0"},
      {"SRATIONAL", tiff_srational, 1, enc().u32(0xFFFFFFFFu).u32(3).out, "-1/3"},
      {"FLOAT", tiff_float, 1, enc().f32(1.5f).out, "1.5"},
      {"DOUBLE", tiff_double, 2, enc().f64(0.25).f64(-2.5e10).out, "0.25 -2.5e+10"},
      {"no values", tiff_short, 0, {}, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(render(GetParam(), 0x0100, r.type, r.count, r.value), r.text);
  }
}

TEST_P(PlainText, UndefinedBytesAsTextWhenPrintableElseInHex) {
  bytes longValue(100, 'a');
  bytes longBinary(65, 0x01);
  std::string hex64;
  for (int i = 0; i < 64; ++i) hex64 += i ? " 01" : "01";
  const struct {
    const char* what;
    bytes value;
    std::string text;
  } rows[] = {
      {"a version", {'0', '2', '3', '0'}, "0230"},
      {"text padded with NULs", {'A', 'S', 'C', 'I', 'I', 0, 0, 0}, "ASCII"},
      {"binary", {0x01, 0x02, 0xFF}, "01 02 ff"},
      {"text with a control byte", {'a', '\n', 'b'}, "61 0a 62"},
      {"only NULs", {0, 0}, "00 00"},
      {"nothing", {}, ""},
      {"long text", longValue, std::string(64, 'a') + " ..."},
      {"long binary", longBinary, hex64 + " ..."},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(render(GetParam(), 0x9000, tiff_undefined, static_cast<uint32_t>(r.value.size()), r.value),
              r.text);
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, PlainText, ::testing::Values(false, true), orderName);

TEST(PlainText, NoFieldGivesAnEmptyTextNotNull) {
  const textHandler* h = plainHandlers::map.findHandler(0x9003);
  ASSERT_NE(h, nullptr);
  const char* t = h->fieldText(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t, "");
}

TEST(PlainText, AnUnpopulatedAsciiFieldIsEmpty) {
  asciiField a(entry(0x9003, tiff_ascii, 20, 8, 100));
  EXPECT_STREQ(plainHandlers::map.findHandler(0x9003)->fieldText(nullptr, &a), "");
}

// A handler that says which one it is.
class named final : public textHandler {
 public:
  explicit named(const char* n) : n_(n) {}
  const char* fieldText(const ifd*, const field*) const override { return n_; }

 private:
  const char* n_;
};

TEST(HandlerMap, ThePlainMapHasAHandlerForEveryTag) {
  for (unsigned tag : {0x0000u, 0x0001u, 0x010Fu, 0x9003u, 0x9286u, 0xFFFFu})
    EXPECT_NE(plainHandlers::map.findHandler(static_cast<unsigned short>(tag)), nullptr) << tag;
  EXPECT_EQ(plainHandlers::map.findHandler(0x9003), plainHandlers::map.findHandler(0x0100));
}

TEST(HandlerMap, HandlersOfTheirOwnComeBeforeTheFallback) {
  named a("a"), b("b"), c("c"), fallback("fallback");
  textHandlerMap map;
  EXPECT_EQ(map.findHandler(5), nullptr);
  // Set out of order, so a lookup that relies on order would miss some.
  map.setHandler(0x9003, &c);
  map.setHandler(1, &a);
  map.setHandler(0xFFFF, &b);
  map.setHandler(0x0100, &a);
  EXPECT_EQ(map.findHandler(1), &a);
  EXPECT_EQ(map.findHandler(0x0100), &a);
  EXPECT_EQ(map.findHandler(0x9003), &c);
  EXPECT_EQ(map.findHandler(0xFFFF), &b);
  EXPECT_EQ(map.findHandler(0), nullptr);
  EXPECT_EQ(map.findHandler(0x9004), nullptr);
  map.setFallback(&fallback);
  EXPECT_EQ(map.findHandler(0x9004), &fallback);
  map.setHandler(0x9003, &b);  // replaced
  EXPECT_EQ(map.findHandler(0x9003), &b);
  map.setHandler(0x9003, nullptr);  // removed: the fallback serves it again
  EXPECT_EQ(map.findHandler(0x9003), &fallback);
  EXPECT_EQ(map.findHandler(0xFFFF), &b);
  map.setHandler(0x1234, nullptr);  // removing what is not there changes nothing
  EXPECT_EQ(map.findHandler(1), &a);
  EXPECT_STREQ(map.findHandler(0x0100)->fieldText(nullptr, nullptr), "a");
}

}  // namespace
