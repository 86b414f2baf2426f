// sonlift end to end: its exact output lines, the exact bytes of the .wav
// files it writes, and how it writes them (a temporary file renamed into
// place, failures reported, nothing left behind).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Payload bytes of a segment that tell every position apart: a shift by one
// byte in either direction changes the outcome.
bytes pattern(size_t n, unsigned seed) {
  bytes b(n);
  for (size_t k = 0; k < n; ++k) b[k] = static_cast<unsigned char>((seed * 37 + k * 7 + k / 251) & 0xFF);
  return b;
}

std::string str(const bytes& b) { return std::string(b.begin(), b.end()); }

// 13 header bytes that every APP2 segment carries before its audio.
const std::string head13("FPXR\0\1\2\3\4\5\6\7\x08", 13);
// 28 more bytes before the stream in the first audio segment.
const std::string more28 = "abcdefghijklmnopqrstuvwxyz01";
// The twelve bytes that every audio stream begins with.
const std::string riffHead("RIFF\x10\0\0\0WAVE", 12);
std::string wav(const std::string& audio) { return riffHead + audio; }

// The four APP2 segments that come before the audio.
void headerSegments(jpegWriter& w) {
  for (int k = 0; k < 4; ++k) w.segment(0xE2, toBytes("FPXR header " + std::to_string(k)));
}

// The image data and EOI that end every photograph here.
void finish(jpegWriter& w) { w.frameHeaders().sos().raw({0x12, 0x34, 0xFF, 0x00, 0x56}).eoi(); }

// A photograph with n APP2 segments whose audio parts are given: four header
// segments, then one segment per element (the first with 41 bytes and the
// RIFF header, later ones with 13 bytes before the audio).  Returns the
// expected .wav content.
std::string audioPhoto(const std::string& path, const std::vector<std::string>& audio) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  std::string expected;
  for (size_t k = 0; k < audio.size(); ++k) {
    w.segment(0xE2, toBytes((k == 0 ? head13 + more28 + riffHead : head13) + audio[k]));
    expected += (k == 0 ? riffHead : "") + audio[k];
  }
  finish(w);
  w.save(path);
  return expected;
}

class Sonlift : public ::testing::Test {
 protected:
  toolResult run(const std::vector<std::string>& args) {
    return runTool(SONLIFT, args, {{}, dir.path()});
  }
  // Both streams into one pipe, through a shell that may prepare the
  // process first (the prelude), to see the order in which lines came.
  toolResult runMerged(const std::vector<std::string>& args, const std::string& prelude = "") {
    return runToolMerged(SONLIFT, args, {{}, dir.path()}, prelude);
  }
  tempDir dir;
};

TEST_F(Sonlift, WithoutArgumentsPrintsTheUsageLine) {
  toolResult r = run({});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Usage: sonlift p0000001.jpg [ p0000002.jpg ... ]\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(listDir(dir.path()).empty());
}

TEST_F(Sonlift, ExactlyFiveApp2SegmentsGiveTheFifthFromPosition45) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  w.segment(0xE2, toBytes(head13 + more28 + std::string("RIFF\x24\0\0\0WAVEfmt \x10", 17)));
  finish(w);
  w.save(dir / "p0000001.jpg");
  toolResult r = run({"p0000001.jpg"});
  EXPECT_EQ(r.out, "JFIF file p0000001.jpg:\nRIFF file p0000001.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "p0000001.jpg.wav"), std::string("RIFF\x24\0\0\0WAVEfmt \x10", 17));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p0000001.jpg", "p0000001.jpg.wav"}));
}

TEST_F(Sonlift, SevenApp2SegmentsGiveTheFifthFrom45ThenTheOthersFrom17) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  w.segment(0xE2, toBytes(head13 + more28 + riffHead + "first|"));
  w.segment(0xE2, toBytes(head13 + "second|"));
  w.segment(0xE2, toBytes(head13 + "third"));
  finish(w);
  w.save(dir / "p.jpg");
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, "JFIF file p.jpg:\nRIFF file p.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), wav("first|second|third"));
}

TEST_F(Sonlift, LargeAudioIsCopiedByteForByte) {
  std::vector<std::string> audio;
  audio.push_back(str(pattern(65533 - 41 - 12, 5)));  // after the RIFF header
  for (unsigned k = 6; k < 46; ++k) audio.push_back(str(pattern(65533 - 13, k)));
  audio.push_back(str(pattern(1000, 99)));
  const std::string expected = audioPhoto(dir / "big.jpg", audio);
  toolResult r = run({"big.jpg"});
  EXPECT_EQ(r.out, "JFIF file big.jpg:\nRIFF file big.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  const std::string wav = readFile(dir / "big.jpg.wav");
  EXPECT_EQ(wav.size(), expected.size());
  EXPECT_TRUE(wav == expected);
}

TEST_F(Sonlift, FourApp2SegmentsLeaveNoFile) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  finish(w);
  w.save(dir / "p.jpg");
  jpegWriter().photo().save(dir / "plain.jpg");
  toolResult r = run({"p.jpg", "plain.jpg"});
  EXPECT_EQ(r.out, "JFIF file p.jpg:\nJFIF file plain.jpg:\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p.jpg", "plain.jpg"}));
}

TEST_F(Sonlift, App2SegmentsAreCountedAmongOtherMarkers) {
  jpegWriter w;
  w.soi().app0Jfif();
  w.segment(0xE2, toBytes("header 0"));
  w.app1Exif({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  w.segment(0xE2, toBytes("header 1"));
  w.com("a comment");
  w.segment(0xE2, toBytes("header 2"));
  w.segment(0xE3, toBytes(head13 + more28 + "APP3 is not audio"));
  w.segment(0xE2, toBytes("header 3"));
  w.frameHeaders();
  w.segment(0xE2, toBytes(head13 + more28 + riffHead + "one,"));
  w.com("between");
  w.segment(0xE1, toBytes(head13 + "APP1 is not audio"));
  w.segment(0xE2, toBytes(head13 + "two,"));
  w.sos().raw({0x12, 0xFF, 0x00, 0x34}).marker(0xD0).raw({0x56});
  w.segment(0xE2, toBytes(head13 + "three"));  // after the image data
  w.eoi();
  w.save(dir / "p.jpg");
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.out, "JFIF file p.jpg:\nRIFF file p.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), wav("one,two,three"));
}

TEST_F(Sonlift, TwoPhotographsEachHaveTheirOwnCountAndFile) {
  // Three APP2 segments in each: the count starts from 0 for the second.
  for (const char* name : {"a.jpg", "b.jpg"}) {
    jpegWriter w;
    w.soi().app0Jfif();
    for (int k = 0; k < 3; ++k) w.segment(0xE2, toBytes(head13 + more28 + "x"));
    finish(w);
    w.save(dir / name);
  }
  const std::string one = audioPhoto(dir / "one.jpg", {"first photograph"});
  const std::string two = audioPhoto(dir / "two.jpg", {"second ", "photograph"});
  toolResult r = run({"a.jpg", "b.jpg", "one.jpg", "two.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file a.jpg:\nJFIF file b.jpg:\n"
            "JFIF file one.jpg:\nRIFF file one.jpg.wav\n"
            "JFIF file two.jpg:\nRIFF file two.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "one.jpg.wav"), wav("first photograph"));
  EXPECT_EQ(readFile(dir / "two.jpg.wav"), wav("second photograph"));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"a.jpg", "b.jpg", "one.jpg", "one.jpg.wav",
                                                        "two.jpg", "two.jpg.wav"}));
}

TEST_F(Sonlift, TheOutputGoesBesideThePhotographWithWavAppended) {
  ASSERT_EQ(mkdir((dir / "a").c_str(), 0755), 0);
  audioPhoto(dir / "a/b.jpg", {"beside"});
  toolResult r = run({"a/b.jpg"});
  EXPECT_EQ(r.out, "JFIF file a/b.jpg:\nRIFF file a/b.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "a/b.jpg.wav"), wav("beside"));
  EXPECT_EQ(listDir(dir / "a"), (std::set<std::string>{"b.jpg", "b.jpg.wav"}));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"a"}));
}

TEST_F(Sonlift, AnAbsoluteNameAndTheLongestNameThatTakesWav) {
  // 251 characters: with ".wav" the output name is 255, the longest a name
  // may be; the temporary file's name must fit too.
  const std::string longName = std::string(247, 'n') + ".jpg";
  audioPhoto(dir / longName, {"long"});
  audioPhoto(dir / "abs.jpg", {"absolute"});
  toolResult r = run({longName, dir / "abs.jpg"});
  EXPECT_EQ(r.out, "JFIF file " + longName + ":\nRIFF file " + longName + ".wav\n" +
                       "JFIF file " + dir / "abs.jpg" + ":\nRIFF file " + dir / "abs.jpg" +
                       ".wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / (longName + ".wav")), wav("long"));
  EXPECT_EQ(readFile(dir / "abs.jpg.wav"), wav("absolute"));
  EXPECT_EQ(listDir(dir.path()).size(), 4u);
}

TEST_F(Sonlift, ShortApp2SegmentsContributeNoBytes) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  w.segment(0xE2, toBytes(head13 + more28));  // 45 bytes long: nothing after 45
  w.segment(0xE2, toBytes("short"));          // 9 bytes long, below 17
  w.segment(0xE2, {});                         // 4 bytes long
  w.segment(0xE2, toBytes(head13));            // 17 bytes long: nothing after 17
  w.segment(0xE2, toBytes(head13 + riffHead + "Z"));  // the whole stream
  finish(w);
  w.save(dir / "short.jpg");
  jpegWriter e;
  e.soi().app0Jfif();
  headerSegments(e);
  e.segment(0xE2, toBytes("tiny"));  // the fifth, shorter than 45: an empty stream
  finish(e);
  e.save(dir / "empty.jpg");
  toolResult r = run({"short.jpg", "empty.jpg"});
  EXPECT_EQ(r.out, "JFIF file short.jpg:\nRIFF file short.jpg.wav\nJFIF file empty.jpg:\n");
  EXPECT_EQ(r.err,
            "chronel: empty.jpg holds no audio: its fifth APP2 segment is \"tiny\" data, "
            "not a RIFF stream.\n");
  EXPECT_EQ(readFile(dir / "short.jpg.wav"), wav("Z"));
  EXPECT_FALSE(exists(dir / "empty.jpg.wav"));
}

// Other data in APP2 segments (ICC profiles, multi-picture directories,
// FlashPix) is no audio: no file, no announcement, a report line that says
// what the segment holds.
TEST_F(Sonlift, AStreamWithoutARiffWaveHeaderIsNoAudio) {
  const std::vector<std::pair<std::string, std::string>> segments = {
      {"icc.jpg", std::string("ICC_PROFILE\0\1\1", 14)},
      {"mpf.jpg", std::string("MPF\0MM\0*", 8)},
      {"fpxr.jpg", std::string("FPXR\0\0\1", 7)},
      {"other.jpg", std::string("Vendor audio\0", 13)},
      {"binary.jpg", std::string("\x01\x02\x03", 3)},
      {"riffonly.jpg", std::string(41, 'x') + "RIFF\x10\0\0\0AVI "}};
  std::vector<std::string> args;
  for (const auto& s : segments) {
    jpegWriter w;
    w.soi().app0Jfif();
    for (int k = 0; k < 5; ++k) w.segment(0xE2, toBytes(s.second + std::string(200, 'd')));
    finish(w);
    w.save(dir / s.first);
    args.push_back(s.first);
  }
  toolResult r = runMerged(args);
  const std::string no = " holds no audio: its fifth APP2 segment is ";
  EXPECT_EQ(r.out,
            "JFIF file icc.jpg:\nchronel: icc.jpg" + no + "ICC_PROFILE data, not a RIFF stream.\n"
            "JFIF file mpf.jpg:\nchronel: mpf.jpg" + no + "MPF data, not a RIFF stream.\n"
            "JFIF file fpxr.jpg:\nchronel: fpxr.jpg" + no + "FPXR data, not a RIFF stream.\n"
            "JFIF file other.jpg:\nchronel: other.jpg" + no +
                "\"Vendor audio\" data, not a RIFF stream.\n"
            "JFIF file binary.jpg:\nchronel: binary.jpg" + no + "unknown data, not a RIFF stream.\n"
            "JFIF file riffonly.jpg:\nchronel: riffonly.jpg" + no +
                "unknown data, not a RIFF stream.\n");
  EXPECT_EQ(listDir(dir.path()).size(), segments.size());
}

TEST_F(Sonlift, NotAPhotographAndMissingFilesGetOnlyTheReportLine) {
  writeFile(dir / "notes.txt", "hello\n");
  audioPhoto(dir / "good.jpg", {"good"});
  ASSERT_EQ(mkdir((dir / "sub.jpg").c_str(), 0700), 0);
  toolResult r = runMerged({"notes.txt", "missing.jpg", "good.jpg", "sub.jpg", "-x"});
  EXPECT_EQ(r.out,
            "chronel: notes.txt is not a JPEG or EXIF file.\n"
            "chronel: missing.jpg is not a JPEG or EXIF file.\n"
            "JFIF file good.jpg:\nRIFF file good.jpg.wav\n"
            "chronel: sub.jpg is not a JPEG or EXIF file.\n"
            "chronel: -x is not a JPEG or EXIF file.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listDir(dir.path()),
            (std::set<std::string>{"notes.txt", "good.jpg", "good.jpg.wav", "sub.jpg"}));
}

// Ruling 3: the stream replaces an older, longer file completely.
TEST_F(Sonlift, AnOlderLongerOutputFileIsReplacedWhole) {
  audioPhoto(dir / "p.jpg", {"new", " audio"});
  writeFile(dir / "p.jpg.wav", std::string(10000, 'o'));
  toolResult r = run({"p.jpg"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), wav("new audio"));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p.jpg", "p.jpg.wav"}));
}

TEST_F(Sonlift, NamingAPhotographTwiceWritesTheSameFileTwice) {
  audioPhoto(dir / "p.jpg", {"twice"});
  toolResult r = run({"p.jpg", "p.jpg"});
  EXPECT_EQ(r.out, "JFIF file p.jpg:\nRIFF file p.jpg.wav\nJFIF file p.jpg:\nRIFF file p.jpg.wav\n");
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), wav("twice"));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p.jpg", "p.jpg.wav"}));
}

// Ruling 3: a symbolic link at the output name is replaced, not followed.
TEST_F(Sonlift, APlantedSymbolicLinkIsReplacedAndItsTargetUntouched) {
  audioPhoto(dir / "p.jpg", {"audio"});
  audioPhoto(dir / "q.jpg", {"more audio"});
  writeFile(dir / "victim.txt", "precious, and longer than the audio\n");
  ASSERT_EQ(symlink("victim.txt", (dir / "p.jpg.wav").c_str()), 0);
  ASSERT_EQ(symlink("nowhere.wav", (dir / "q.jpg.wav").c_str()), 0);  // dangling
  toolResult r = run({"p.jpg", "q.jpg"});
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(isRegularFile(dir / "p.jpg.wav"));
  EXPECT_TRUE(isRegularFile(dir / "q.jpg.wav"));
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), wav("audio"));
  EXPECT_EQ(readFile(dir / "q.jpg.wav"), wav("more audio"));
  EXPECT_EQ(readFile(dir / "victim.txt"), "precious, and longer than the audio\n");
  EXPECT_FALSE(exists(dir / "nowhere.wav"));
  EXPECT_EQ(listDir(dir.path()),
            (std::set<std::string>{"p.jpg", "p.jpg.wav", "q.jpg", "q.jpg.wav", "victim.txt"}));
}

// Ruling 3: permission bits 0666 reduced by the umask for a new file; a
// file replaced keeps its own bits, and its owner where that may be given.
TEST_F(Sonlift, TheOutputTakesPermissionBitsFromTheUmaskOrTheFileItReplaces) {
  audioPhoto(dir / "p.jpg", {"audio"});
  audioPhoto(dir / "q.jpg", {"audio"});
  writeFile(dir / "q.jpg.wav", "old");
  ASSERT_EQ(chmod((dir / "q.jpg.wav").c_str(), 0604), 0);
  const passwd* owner = geteuid() == 0 ? getpwnam("nobody") : nullptr;
  if (owner) {
    ASSERT_EQ(chown((dir / "q.jpg.wav").c_str(), owner->pw_uid, owner->pw_gid), 0);
  }
  const mode_t old = umask(027);  // inherited by the program
  toolResult r = run({"p.jpg", "q.jpg"});
  umask(old);
  EXPECT_EQ(r.err, "");
  struct stat st;
  ASSERT_EQ(stat((dir / "p.jpg.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(stat((dir / "q.jpg.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(readFile(dir / "q.jpg.wav"), wav("audio"));
  if (owner) {
    EXPECT_EQ(st.st_uid, owner->pw_uid);
    EXPECT_EQ(st.st_gid, owner->pw_gid);
  }
}

// A directory that takes no new file, with a writable older output in it:
// the older file is never written in place instead (a failure half way
// would lose it): it stays as it was, and the report line says why.
TEST_F(Sonlift, AnUnwritableDirectoryLeavesAWritableOlderOutputAsItWas) {
  if (!canDropPrivileges()) GTEST_SKIP() << "running as root without a user to drop to";
  ASSERT_EQ(mkdir((dir / "a").c_str(), 0755), 0);
  audioPhoto(dir / "a/p.jpg", {"new"});
  writeFile(dir / "a/p.jpg.wav", std::string(500, 'o'));
  ASSERT_EQ(chmod((dir / "a/p.jpg").c_str(), 0644), 0);
  ASSERT_EQ(chmod((dir / "a/p.jpg.wav").c_str(), 0666), 0);
  ASSERT_EQ(chmod((dir / "a").c_str(), 0555), 0);
  runOptions options;
  options.cwd = dir.path();
  options.unprivileged = true;
  toolResult r = runTool(SONLIFT, {"a/p.jpg"}, options);
  EXPECT_EQ(r.out, "JFIF file a/p.jpg:\nRIFF file a/p.jpg.wav\n");
  EXPECT_EQ(r.err, "chronel: unable to write audio of a/p.jpg: Permission denied.\n");
  EXPECT_EQ(readFile(dir / "a/p.jpg.wav"), std::string(500, 'o'));
  EXPECT_EQ(listDir(dir / "a"), (std::set<std::string>{"p.jpg", "p.jpg.wav"}));
}

// A full file system refuses the temporary file: the older output stays
// whole, and a photograph without one gets no file at all.
TEST_F(Sonlift, AFullFileSystemLeavesTheOlderOutputAsItWas) {
  audioPhoto(dir / "p.jpg", {"new"});
  audioPhoto(dir / "q.jpg", {"new"});
  writeFile(dir / "p.jpg.wav", "an older stream");
  runOptions o = withFaults({"ORVANE_FAULT_NOSPACE=.wav."});
  o.cwd = dir.path();
  const toolResult r = runTool(SONLIFT, {"p.jpg", "q.jpg"}, o);
  EXPECT_EQ(r.err,
            "chronel: unable to write audio of p.jpg: No space left on device.\n"
            "chronel: unable to write audio of q.jpg: No space left on device.\n");
  EXPECT_EQ(readFile(dir / "p.jpg.wav"), "an older stream");
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p.jpg", "p.jpg.wav", "q.jpg"}));
}

// A path of 4087 bytes with a short last name: the output name (4091
// bytes) fits, a temporary name of 19 bytes beside it would not.  The path
// is used relative to the test directory, as sonlift is given it.
TEST_F(Sonlift, ALongPathWithAShortNameIsWritten) {
  const int top = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(top, 0);
  std::string path;
  while (path.size() < 4085) {
    const size_t left = 4085 - path.size() - (path.empty() ? 0 : 1);
    path += (path.empty() ? "" : "/") + std::string(left > 200 ? 200 : left, 'd');
    ASSERT_EQ(mkdirat(top, path.c_str(), 0755), 0) << path.size();
  }
  path += "/p";
  ASSERT_EQ(path.size(), 4087u);
  audioPhoto(dir / "p.jpg", {"far away"});
  ASSERT_EQ(renameat(top, "p.jpg", top, path.c_str()), 0);
  toolResult r = run({path});
  EXPECT_EQ(r.out, "JFIF file " + path + ":\nRIFF file " + path + ".wav\n");
  EXPECT_EQ(r.err, "");
  std::string written(100, '\0');
  const int fd = openat(top, (path + ".wav").c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  written.resize(fd >= 0 ? static_cast<size_t>(std::max<ssize_t>(0, read(fd, &written[0], 100))) : 0);
  if (fd >= 0) close(fd);
  close(top);
  EXPECT_EQ(written, wav("far away"));
}

// Ruling 4: a failed create is reported, the next photograph goes on.
TEST_F(Sonlift, AnUnwritableDirectoryIsReportedAndLeavesNothing) {
  if (!canDropPrivileges()) GTEST_SKIP() << "running as root without a user to drop to";
  ASSERT_EQ(mkdir((dir / "a").c_str(), 0755), 0);
  audioPhoto(dir / "a/p0000001.jpg", {"cannot be written"});
  audioPhoto(dir / "good.jpg", {"written"});
  ASSERT_EQ(chmod((dir / "a/p0000001.jpg").c_str(), 0644), 0);
  ASSERT_EQ(chmod((dir / "good.jpg").c_str(), 0644), 0);
  ASSERT_EQ(chmod((dir / "a").c_str(), 0555), 0);
  runOptions options;
  options.cwd = dir.path();
  options.unprivileged = true;
  toolResult r = runTool(SONLIFT, {"a/p0000001.jpg", "good.jpg"}, options);
  EXPECT_EQ(r.out,
            "JFIF file a/p0000001.jpg:\nRIFF file a/p0000001.jpg.wav\n"
            "JFIF file good.jpg:\nRIFF file good.jpg.wav\n");
  EXPECT_EQ(r.err, "chronel: unable to write audio of a/p0000001.jpg: Permission denied.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(listDir(dir / "a"), (std::set<std::string>{"p0000001.jpg"}));
  EXPECT_EQ(readFile(dir / "good.jpg.wav"), wav("written"));
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"a", "good.jpg", "good.jpg.wav"}));
}

// Ruling 4: a failed write (here: past the process's file size limit,
// whose SIGXFSZ sonlift ignores) is reported after the announcement; the
// temporary file is removed and an older output file stays as it was.
TEST_F(Sonlift, AFailedWriteIsReportedAndLeavesNoTemporaryFile) {
  audioPhoto(dir / "big.jpg", {str(pattern(3000, 1)), str(pattern(3000, 2))});
  writeFile(dir / "big.jpg.wav", "an older stream");
  audioPhoto(dir / "small.jpg", {"fits"});
  toolResult r =
      runMerged({"big.jpg", "small.jpg"}, "ulimit -f 2 || exit 99; ");
  EXPECT_EQ(r.out,
            "JFIF file big.jpg:\nRIFF file big.jpg.wav\n"
            "chronel: unable to write audio of big.jpg: File too large.\n"
            "JFIF file small.jpg:\nRIFF file small.jpg.wav\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "big.jpg.wav"), "an older stream");
  EXPECT_EQ(readFile(dir / "small.jpg.wav"), wav("fits"));
  EXPECT_EQ(listDir(dir.path()),
            (std::set<std::string>{"big.jpg", "big.jpg.wav", "small.jpg", "small.jpg.wav"}));
}

// Ruling 4: a failed rename (here: a directory holds the output name).
TEST_F(Sonlift, AFailedRenameIsReportedAndLeavesNoTemporaryFile) {
  audioPhoto(dir / "p.jpg", {"audio"});
  ASSERT_EQ(mkdir((dir / "p.jpg.wav").c_str(), 0755), 0);
  writeFile(dir / "p.jpg.wav/inside", "x");
  audioPhoto(dir / "q.jpg", {"fine"});
  toolResult r = runMerged({"p.jpg", "q.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file p.jpg:\nRIFF file p.jpg.wav\n"
            "chronel: unable to rename audio into place for p.jpg: Is a directory.\n"
            "JFIF file q.jpg:\nRIFF file q.jpg.wav\n");
  EXPECT_EQ(listDir(dir / "p.jpg.wav"), (std::set<std::string>{"inside"}));
  EXPECT_EQ(readFile(dir / "q.jpg.wav"), wav("fine"));
  EXPECT_EQ(listDir(dir.path()),
            (std::set<std::string>{"p.jpg", "p.jpg.wav", "q.jpg", "q.jpg.wav"}));
}

// Ruling 5: damage after audio was written keeps the audio, then reports.
TEST_F(Sonlift, DamageAfterAudioKeepsTheAudioThenReports) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  w.segment(0xE2, toBytes(head13 + more28 + riffHead + "kept,"));
  w.segment(0xE2, toBytes(head13 + "also kept"));
  const size_t cutAt = w.size();
  w.segmentWithLength(0xE2, 65535, toBytes(head13 + "runs past the end"));
  w.save(dir / "cut.jpg");
  writeFile(dir / "cut.jpg.wav", std::string(500, 'o'));  // older and longer
  audioPhoto(dir / "good.jpg", {"good"});
  toolResult r = runMerged({"cut.jpg", "good.jpg"});
  EXPECT_EQ(r.out, "JFIF file cut.jpg:\nRIFF file cut.jpg.wav\n"
                   "chronel: cut.jpg is truncated: APP2 at offset " + std::to_string(cutAt) +
                       " runs past the end of the file.\n"
                       "JFIF file good.jpg:\nRIFF file good.jpg.wav\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(dir / "cut.jpg.wav"), wav("kept,also kept"));
  EXPECT_EQ(readFile(dir / "good.jpg.wav"), wav("good"));
  EXPECT_EQ(listDir(dir.path()),
            (std::set<std::string>{"cut.jpg", "cut.jpg.wav", "good.jpg", "good.jpg.wav"}));
}

TEST_F(Sonlift, DamageBeforeTheFifthApp2SegmentLeavesNoFile) {
  jpegWriter w;
  w.soi().app0Jfif();
  headerSegments(w);
  w.raw({0x00, 0x01});  // no marker where one must stand
  w.segment(0xE2, toBytes(head13 + more28 + "never reached"));
  w.save(dir / "bad.jpg");
  toolResult r = runMerged({"bad.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file bad.jpg:\n"
            "chronel: bad.jpg is damaged: no marker at offset 88 (byte 0x00).\n");
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"bad.jpg"}));
}

}  // namespace
