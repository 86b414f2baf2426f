// glossel end to end: the exact bytes it prints for comments, good, failing
// and damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

class Glossel : public ::testing::Test {
 protected:
  toolResult run(const std::vector<std::string>& args) {
    return runTool(GLOSSEL, args, {{}, dir.path()});
  }
  // Both streams into one pipe, to see the order in which lines were flushed.
  toolResult runMerged(const std::vector<std::string>& args) {
    return runToolMerged(GLOSSEL, args, {{}, dir.path()});
  }
  // A photograph with the given comments between its header segments.
  void photoWithComments(const std::string& name, const std::vector<std::string>& comments) {
    jpegWriter w;
    w.soi().app0Jfif();
    for (const std::string& c : comments) w.com(c);
    w.frameHeaders().sos().raw({0x12, 0x34, 0xFF, 0x00, 0x56}).eoi();
    w.save(dir / name);
  }
  tempDir dir;
};

TEST_F(Glossel, WithoutArgumentsPrintsTheUsageLine) {
  toolResult r = run({});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Usage: glossel p0000001.jpg [ p0000002.jpg ... ]\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, AFileWithoutCommentsPrintsItsNameLineOnly) {
  jpegWriter().photo().save(dir / "plain.jpg");
  toolResult r = run({"plain.jpg"});
  EXPECT_EQ(r.out, "plain.jpg:\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, AnEmptyCommentPrintsAnEmptyLine) {
  photoWithComments("empty.jpg", {""});
  toolResult r = run({"empty.jpg"});
  EXPECT_EQ(r.out, "empty.jpg:\n\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Glossel, ACommentWithALineBreakPrintsOverTwoLines) {
  photoWithComments("p.jpg", {"first line\nsecond line"});
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, "p.jpg:\nfirst line\nsecond line\n");
}

TEST_F(Glossel, ATrailingNulIsPrintedBeforeTheNewline) {
  photoWithComments("p.jpg", {std::string("written by a camera\0", 20)});
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, std::string("p.jpg:\nwritten by a camera\0\n", 28));
}

TEST_F(Glossel, CommentBytesArePrintedExactlyAsStored) {
  const std::string raw("caf\xC3\xA9\0mid\r\n\xFF\xFE\x01 end\0\0", 18);
  photoWithComments("p.jpg", {raw});
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, "p.jpg:\n" + raw + "\n");
}

TEST_F(Glossel, TheLongestCommentIsPrintedWhole) {
  std::string text(65533, 'x');
  for (size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char>('a' + k % 26);
  photoWithComments("long.jpg", {text});
  toolResult r = run({"long.jpg"});
  EXPECT_EQ(r.out, "long.jpg:\n" + text + "\n");
}

TEST_F(Glossel, TwoCommentsPrintInFileOrderAndOtherSegmentsNever) {
  jpegWriter w;
  w.soi().app0Jfif().com("one");
  w.segment(0xE1, toBytes("Exif\0\0not a comment"));
  w.segment(0xE2, toBytes("ICC_PROFILE not a comment"));
  w.frameHeaders().com("two").sos().raw({0x12, 0x34}).eoi();
  w.save(dir / "p.jpg");
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, "p.jpg:\none\ntwo\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Glossel, AGoodAMissingAndAGoodFile) {
  photoWithComments("good.jpg", {"hello"});
  photoWithComments("other.jpg", {"world", "again"});
  toolResult r = run({"good.jpg", "missing.jpg", "other.jpg"});
  EXPECT_EQ(r.out,
            "good.jpg:\nhello\n"
            "Unable to open file missing.jpg: No such file or directory\n"
            "other.jpg:\nworld\nagain\n");
  EXPECT_EQ(r.err, "");  // a file that cannot be opened gets no report line
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, AFileThatIsNotAPhotographGetsTheReportLine) {
  writeFile(dir / "notes.txt", "hello\n");
  photoWithComments("good.jpg", {"hello"});
  toolResult r = run({"notes.txt", "good.jpg"});
  EXPECT_EQ(r.out, "good.jpg:\nhello\n");
  EXPECT_EQ(r.err, "chronel: notes.txt is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, LinesOfBothStreamsComeInProcessingOrder) {
  photoWithComments("good.jpg", {"hello"});
  photoWithComments("other.jpg", {"world"});
  writeFile(dir / "notes.txt", "hello\n");
  toolResult r = runMerged({"good.jpg", "notes.txt", "missing.jpg", "other.jpg"});
  EXPECT_EQ(r.out,
            "good.jpg:\nhello\n"
            "chronel: notes.txt is not a JPEG or EXIF file.\n"
            "Unable to open file missing.jpg: No such file or directory\n"
            "other.jpg:\nworld\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, EveryArgumentIsAFileNameAndOddFilesAreSkipped) {
  ASSERT_EQ(mkdir((dir / "sub.jpg").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
  writeFile(dir / "empty.jpg", "");
  toolResult r = run({"-x", "sub.jpg", "fifo.jpg", "empty.jpg"});
  EXPECT_EQ(r.out,
            "Unable to open file -x: No such file or directory\n"
            "Unable to open file sub.jpg: Is a directory\n"
            "Unable to open file fifo.jpg: Invalid argument\n");
  EXPECT_EQ(r.err, "chronel: empty.jpg is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, DamageAfterACommentKeepsWhatWasPrintedThenReports) {
  jpegWriter w;
  w.soi().app0Jfif().com("before the damage");
  w.segmentWithLength(0xFE, 65535, toBytes("cut short"));
  w.save(dir / "cut.jpg");
  photoWithComments("good.jpg", {"hello"});
  toolResult r = runMerged({"cut.jpg", "good.jpg"});
  EXPECT_EQ(r.out,
            "cut.jpg:\nbefore the damage\n"
            "chronel: cut.jpg is truncated: COM at offset 41 runs past the end of the file.\n"
            "good.jpg:\nhello\n");
  EXPECT_EQ(r.status, 0);
}

// Ruling 1: a comment whose length field is below 2 has no text.  The
// container library reports such a segment as damage, so nothing is read
// outside it and nothing is printed for it.
TEST_F(Glossel, ACommentWithALengthFieldBelowTwoIsDamageNotText) {
  jpegWriter zero, one;
  zero.soi().segmentWithLength(0xFE, 0, toBytes("XYZ")).eoi();
  one.soi().segmentWithLength(0xFE, 1, toBytes("XYZ")).eoi();
  zero.save(dir / "len0.jpg");
  one.save(dir / "len1.jpg");
  toolResult r = run({"len0.jpg", "len1.jpg"});
  EXPECT_EQ(r.out, "len0.jpg:\nlen1.jpg:\n");
  EXPECT_EQ(r.err,
            "chronel: len0.jpg is damaged: COM at offset 2 has a length field of 0.\n"
            "chronel: len1.jpg is damaged: COM at offset 2 has a length field of 1.\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Glossel, ANamedFileTwiceIsPrintedTwice) {
  photoWithComments("p.jpg", {"once"});
  toolResult r = run({"p.jpg", "p.jpg"});
  EXPECT_EQ(r.out, "p.jpg:\nonce\np.jpg:\nonce\n");
}

}  // namespace
