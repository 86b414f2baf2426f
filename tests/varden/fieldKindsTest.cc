// The ASCII and UNDEFINED field kinds of libvarden: where populate() reads,
// how much it copies, what a field holds before it is populated, which
// visitor operation it calls, and that loading the library registers them
// with the container library's parser.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "asciiField.h"
#include "fieldHandler.h"
#include "fieldKinds.h"
#include "mstream.h"
#include "nullField.h"
#include "numericFields.h"
#include "undefinedField.h"

namespace {

// 26 distinct bytes, so every read shows where it came from.
const unsigned char block[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr size_t blockSize = sizeof block - 1;  // without the literal's NUL

// The bytes a populated field of either kind holds.
std::string valueOf(const field& f) {
  if (auto a = dynamic_cast<const asciiField*>(&f)) return std::string(a->value(), a->count());
  auto u = dynamic_cast<const undefinedField*>(&f);
  return std::string(reinterpret_cast<const char*>(u->value()), u->count());
}

// The fields of these tests outlive their calls; their bytes stay until exit.
fieldArena& arena() {
  static fieldArena a;
  return a;
}

struct populated {
  fieldPtr f;
  unsigned long streamAfter;  // the stream position populate() left
};

populated populate(unsigned short type, uint32_t count, uint32_t offsetOffset, uint32_t offset) {
  mstream m{byteReader(block, blockSize)};
  populated p{makeField(entry(0x9003, type, count, offsetOffset, offset), arena()), 0};
  if (!p.f) return p;
  p.f->populate(m);
  p.streamAfter = m.tell();
  return p;
}

class BothKinds : public ::testing::TestWithParam<unsigned short> {};

std::string kindName(const ::testing::TestParamInfo<unsigned short>& info) {
  return info.param == tiff_ascii ? "Ascii" : "Undefined";
}

TEST_P(BothKinds, TheCountAloneDecidesWhereTheValueIs) {
  // The entry's value field is at 4, the offset it holds is 12.
  const struct {
    uint32_t count;
    const char* value;
    unsigned long after;
  } rows[] = {
      {1, "E", 5},
      {4, "EFGH", 8},         // fits in the entry's own field
      {5, "MNOPQ", 17},       // lies at the offset
      {14, "MNOPQRSTUVWXYZ", 26},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.count);
    populated p = populate(GetParam(), r.count, 4, 12);
    ASSERT_TRUE(p.f);
    EXPECT_EQ(valueOf(*p.f), r.value);
    // Exactly count bytes were read: no terminator was looked for or added.
    EXPECT_EQ(p.streamAfter, r.after);
  }
}

TEST_P(BothKinds, CountZeroGivesAnEmptyBufferAndReadsNothing) {
  populated p = populate(GetParam(), 0, 4, 12);
  ASSERT_TRUE(p.f);
  EXPECT_EQ(valueOf(*p.f), "");
  EXPECT_EQ(p.streamAfter, 4u);
  if (auto u = dynamic_cast<const undefinedField*>(p.f.get())) {
    EXPECT_NE(u->value(), nullptr);  // populated, even if empty
  }
}

TEST_P(BothKinds, BytesPastTheBlockReadAsZeroNeverAsGarbage) {
  // The parser never populates such a field; called directly, the value is
  // still fully defined.
  populated p = populate(GetParam(), 8, 4, 22);
  ASSERT_TRUE(p.f);
  EXPECT_EQ(valueOf(*p.f), std::string("WXYZ\0\0\0\0", 8));
}

INSTANTIATE_TEST_SUITE_P(FieldKinds, BothKinds, ::testing::Values(tiff_ascii, tiff_undefined), kindName);

TEST(FieldKinds, AnUnterminatedValueStaysUnterminated) {
  // "ABCDE" is followed by "F" in the block, not by a NUL.
  populated p = populate(tiff_ascii, 5, 4, 0);
  auto a = dynamic_cast<const asciiField*>(p.f.get());
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->count(), 5u);
  EXPECT_EQ(std::memcmp(a->value(), "ABCDE", 5), 0);
  EXPECT_EQ(p.streamAfter, 5u);
}

TEST(FieldKinds, BeforePopulateAsciiIsEmptyAndUndefinedIsNull) {
  const entry e(0x9003, tiff_ascii, 20, 10, 100);
  asciiField a(e);
  ASSERT_NE(a.value(), nullptr);
  EXPECT_STREQ(a.value(), "");
  EXPECT_EQ(a.count(), 20u);
  EXPECT_EQ(a.tag(), 0x9003);

  undefinedField u(entry(0x9000, tiff_undefined, 4, 10, 0));
  EXPECT_EQ(u.value(), nullptr);
  EXPECT_EQ(u.count(), 4u);
  EXPECT_EQ(u.tag(), 0x9000);
}

// Records which operation a field called, and with which object.
class recorder final : public fieldHandler {
 public:
  void handleAscii(const asciiField& f) override { note("ascii", &f); }
  void handleInteger(const integerField& f) override { note("integer", &f); }
  void handleRational(const rationalField& f) override { note("rational", &f); }
  void handleUndefined(const undefinedField& f) override { note("undefined", &f); }
  void handleReal(const realField& f) override { note("real", &f); }

  std::string calls;
  const void* last = nullptr;

 private:
  void note(const char* what, const void* f) {
    calls += calls.empty() ? what : std::string(" ") + what;
    last = f;
  }
};

TEST(FieldKinds, EachKindVisitsItsOwnOperation) {
  const struct {
    unsigned short type;
    const char* call;
  } rows[] = {
      {tiff_ascii, "ascii"},       {tiff_undefined, "undefined"}, {tiff_byte, "integer"},
      {tiff_short, "integer"},     {tiff_long, "integer"},        {tiff_sbyte, "integer"},
      {tiff_sshort, "integer"},    {tiff_slong, "integer"},       {tiff_ifd, "integer"},
      {tiff_rational, "rational"}, {tiff_srational, "rational"},  {tiff_float, "real"},
      {tiff_double, "real"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.type);
    populated p = populate(r.type, 1, 4, 12);
    ASSERT_TRUE(p.f);
    recorder h;
    p.f->handleField(h);
    p.f->handleField(h);  // visited any number of times
    EXPECT_EQ(h.calls, std::string(r.call) + " " + r.call);
    EXPECT_EQ(h.last, static_cast<const void*>(p.f.get()));
  }
}

#if defined(__x86_64__) || defined(__i386__)
// The position of a virtual operation in its class's table, as the
// Itanium C++ ABI encodes it in a pointer to member function.
template <class M>
std::ptrdiff_t slotOf(M member) {
  static_assert(sizeof(M) == 2 * sizeof(std::ptrdiff_t), "Itanium pointer to member function");
  std::ptrdiff_t rep[2];
  std::memcpy(rep, &member, sizeof rep);
  return rep[0] & 1 ? (rep[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*)) : -1;
}

TEST(FieldKinds, VirtualOperationsKeepTheirSlots) {
  // Field kinds built into other libraries call the visitor by position:
  // the ASCII operation first, the UNDEFINED one fourth.
  EXPECT_EQ(slotOf(&fieldHandler::handleAscii), 0);
  EXPECT_EQ(slotOf(&fieldHandler::handleUndefined), 3);
  EXPECT_EQ(slotOf(&field::populate), 0);
  EXPECT_EQ(slotOf(&field::handleField), 1);
  EXPECT_EQ(slotOf(&asciiField::populate), 0);
  EXPECT_EQ(slotOf(&undefinedField::handleField), 1);
}
#endif

TEST(FieldKinds, LoadingLibvardenRegistersTheAsciiAndUndefinedKinds) {
  // The parser makes its fields through the registry; libvarden filled in
  // types 2 and 7 when it was loaded.
  auto a = makeField(entry(1, tiff_ascii, 3, 0, 0), arena());
  auto u = makeField(entry(1, tiff_undefined, 3, 0, 0), arena());
  EXPECT_NE(dynamic_cast<asciiField*>(a.get()), nullptr);
  EXPECT_NE(dynamic_cast<undefinedField*>(u.get()), nullptr);
  EXPECT_NE(dynamic_cast<integerField*>(makeField(entry(1, tiff_short, 1, 0, 0), arena()).get()), nullptr);
  for (unsigned short none : {0, 14, 0xFFFF}) EXPECT_EQ(makeField(entry(1, none, 1, 0, 0), arena()), nullptr);

  static_assert(std::is_base_of<field, asciiField>::value && std::is_polymorphic<asciiField>::value,
                "asciiField is a field");
  static_assert(std::is_base_of<field, undefinedField>::value, "undefinedField is a field");

  const entry& empty = nullField::emptyEntry();
  EXPECT_EQ(empty.tag(), 0);
  EXPECT_EQ(empty.type(), 0);
  EXPECT_EQ(empty.count(), 0u);
  EXPECT_EQ(empty.offsetOffset(), 0u);
  EXPECT_EQ(empty.offset(), 0u);
}

TEST(FieldKinds, RegistrationOnlyTakesTiffTypes) {
  EXPECT_FALSE(registerFieldKind(0, nullptr));
  EXPECT_FALSE(registerFieldKind(14, nullptr));
}

}  // namespace
