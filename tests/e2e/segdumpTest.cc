// segdump end to end: its exact output for good, failing and damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

// The addresses differ from run to run; everything else must match.
std::string withoutAddresses(const std::string& s) {
  return std::regex_replace(s, std::regex("addr = 0x[0-9a-f]+"), "addr = ADDR");
}

class Segdump : public ::testing::Test {
 protected:
  toolResult run(const std::vector<std::string>& args) {
    toolResult r = runTool(SEGDUMP, args, {{}, dir.path()});
    r.out = withoutAddresses(r.out);
    return r;
  }
  tempDir dir;
};

const char* const photoListing =
    "  marker type SOI, len = 2, offset = 0, addr = ADDR\n"
    "  marker type APP0, len = 18, offset = 2, addr = ADDR\n"
    "  marker type DQT, len = 69, offset = 20, addr = ADDR\n"
    "  marker type SOF0, len = 13, offset = 89, addr = ADDR\n"
    "  marker type DHT, len = 22, offset = 102, addr = ADDR\n"
    "  marker type SOS, len = 10, offset = 124, addr = ADDR\n"
    "  marker type EOI, len = 2, offset = 139, addr = ADDR\n";

TEST_F(Segdump, WithoutArgumentsPrintsTheUsageLine) {
  toolResult r = run({});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Usage: segdump p0000001.jpg [ p0000002.jpg ... ]\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Segdump, ListsGoodFilesAndReportsTheOthersInOrder) {
  jpegWriter().photo().save(dir / "good.jpg");
  jpegWriter().photo().save(dir / "other.jpg");
  writeFile(dir / "notes.txt", "hello\n");
  toolResult r = run({"good.jpg", "notes.txt", "missing.jpg", "other.jpg"});
  EXPECT_EQ(r.out, std::string("JFIF file good.jpg:\n") + photoListing +
                       "Unable to open file missing.jpg: No such file or directory\n"
                       "JFIF file other.jpg:\n" + photoListing);
  EXPECT_EQ(r.err,
            "chronel: notes.txt is not a JPEG or EXIF file.\n"
            "chronel: missing.jpg is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Segdump, AddressesPointIntoOneImageOfTheFile) {
  jpegWriter().photo().save(dir / "good.jpg");
  toolResult r = runTool(SEGDUMP, {"good.jpg"}, {{}, dir.path()});
  std::smatch first, last;
  std::regex addr("addr = 0x([0-9a-f]+)");
  std::vector<unsigned long long> addrs;
  for (std::sregex_iterator it(r.out.begin(), r.out.end(), addr), end; it != end; ++it)
    addrs.push_back(std::stoull((*it)[1].str(), nullptr, 16));
  ASSERT_EQ(addrs.size(), 7u);
  EXPECT_EQ(addrs[6] - addrs[0], 139u);  // EOI's offset
}

TEST_F(Segdump, DamageShowsEverythingBeforeItThenOneReportLine) {
  jpegWriter w;
  w.soi().app0Jfif().segmentWithLength(0xE1, 65535, {1, 2, 3});
  w.save(dir / "cut.jpg");
  jpegWriter().photo().save(dir / "good.jpg");
  toolResult r = run({"cut.jpg", "good.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file cut.jpg:\n"
            "  marker type SOI, len = 2, offset = 0, addr = ADDR\n"
            "  marker type APP0, len = 18, offset = 2, addr = ADDR\n"
            "JFIF file good.jpg:\n" + std::string(photoListing));
  EXPECT_EQ(r.err, "chronel: cut.jpg is truncated: APP1 at offset 20 runs past the end of the file.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Segdump, HostileAndOddFilesEndAsOneReportLine) {
  writeFile(dir / "empty.jpg", "");
  writeFile(dir / "one.jpg", "\xFF");
  writeFile(dir / "ffs.jpg", std::string(100, '\xFF'));
  jpegWriter zero, one;
  zero.soi().segmentWithLength(0xFE, 0, {});
  one.soi().segmentWithLength(0xFE, 1, {});
  zero.save(dir / "len0.jpg");
  one.save(dir / "len1.jpg");
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir / "sub.jpg").c_str(), 0700), 0);
  toolResult r = run({"empty.jpg", "one.jpg", "ffs.jpg", "len0.jpg", "len1.jpg", "fifo.jpg",
                      "sub.jpg", "-x"});
  EXPECT_EQ(r.out,
            "JFIF file len0.jpg:\n"
            "  marker type SOI, len = 2, offset = 0, addr = ADDR\n"
            "JFIF file len1.jpg:\n"
            "  marker type SOI, len = 2, offset = 0, addr = ADDR\n"
            "Unable to open file fifo.jpg: Invalid argument\n"
            "Unable to open file sub.jpg: Is a directory\n"
            "Unable to open file -x: No such file or directory\n");
  EXPECT_EQ(r.err,
            "chronel: empty.jpg is not a JPEG or EXIF file.\n"
            "chronel: one.jpg is not a JPEG or EXIF file.\n"
            "chronel: ffs.jpg is not a JPEG or EXIF file.\n"
            "chronel: len0.jpg is damaged: COM at offset 2 has a length field of 0.\n"
            "chronel: len1.jpg is damaged: COM at offset 2 has a length field of 1.\n"
            "chronel: fifo.jpg is not a JPEG or EXIF file.\n"
            "chronel: sub.jpg is not a JPEG or EXIF file.\n"
            "chronel: -x is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
