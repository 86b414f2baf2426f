// The tools when the world changes under them: a photograph cut while it is
// read, a memory card's coarse clock, a signal in the middle of a write, a
// file larger than memory.  Each moment is made exact by the fault library
// that the tests preload (support/faults.cc).
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "containerWriter.h"
#include "jpegWriter.h"
#include "runTool.h"
#include "sanitizers.h"

using namespace testjpeg;

namespace {

time_t mtimeOf(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mtim.tv_sec;
}

// A photograph whose Exif directory lies at byte 9900 of the file, behind a
// 10 KB text in IFD0, and whose date's value lies 3 KB further, at 13 KB,
// behind a value that is only read when asked for; 27 KB follow EOI.
// Photographs made with it differ only in their dates, so a buffer left by
// one holds the other's date at the very same place.
void datedPhoto(const std::string& path, const std::string& date) {
  const size_t blockAt = 30;  // SOI, APP0, the APP1 segment's header
  auto build = [&](size_t textLength, uint32_t& exifAt) {
    tiffWriter t;
    t.ascii(dir::ifd0, 0x010E, std::string(textLength, 'd'))
        .undefined(dir::exif, 0x9000, bytes(3072, 0x30))
        .dateTimeOriginal(date);
    const bytes b = t.build();
    exifAt = t.dirOffset(dir::exif);
    return b;
  };
  uint32_t exifAt = 0;
  build(9000, exifAt);
  const bytes block = build(9000 + 9900 - blockAt - exifAt, exifAt);
  ASSERT_EQ(blockAt + exifAt, 9900u);
  jpegWriter w;
  w.photo(block).raw(bytes(27 * 1024, 0));
  w.save(path);
}

// However the cut falls, a photograph gets its own capture time, read
// before the cut, or one report line: never the time of the photograph
// read before it, neither printed nor set as its modification time.
TEST(ChangingFiles, APhotographCutWhileReadNeverShowsAnotherOnesTime) {
  tempDir dir;
  datedPhoto(dir / "A.jpg", "2001:01:01 01:01:01");
  const std::string aLine = "Mon Jan  1 01:01:01 2001 A.jpg\n";
  for (int read = 1; read <= 3; ++read) {
    datedPhoto(dir / "B.jpg", "2002:02:02 02:02:02");
    const time_t untouched = mtimeOf(dir / "B.jpg");
    runOptions o = withFaults({"ORVANE_FAULT_TRUNCATE=/B.jpg:" + std::to_string(read) + ":10000",
                               "TZ=UTC"});
    o.cwd = dir.path();
    const toolResult r = runTool(CHRONEL, {"-m", "A.jpg", "B.jpg"}, o);
    SCOPED_TRACE("cut at read " + std::to_string(read));
    EXPECT_EQ(r.status, 0);
    if (r.out == aLine + "Sat Feb  2 02:02:02 2002 B.jpg\n") {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(mtimeOf(dir / "B.jpg"), 1012615322);
    } else {
      EXPECT_EQ(r.out, aLine);
      EXPECT_EQ(r.err, "chronel: B.jpg is truncated: the file shrank to 10000 bytes while it was read.\n");
      EXPECT_GE(mtimeOf(dir / "B.jpg"), untouched);  // as the cut left it, not A's time
    }
  }
}

// A comment cut while it is read is reported where the file ends now, and
// no byte that is not the file's (zeros, another file's) is printed.
TEST(ChangingFiles, ACommentCutWhileReadIsReportedNotFilledIn) {
  tempDir dir;
  jpegWriter().soi().com(std::string(20000, 'A')).eoi().save(dir / "A.jpg");
  const std::string bComment(20000, 'b');
  for (int read = 1; read <= 3; ++read) {
    jpegWriter().soi().com(bComment).eoi().save(dir / "B.jpg");
    runOptions o = withFaults({"ORVANE_FAULT_TRUNCATE=/B.jpg:" + std::to_string(read) + ":5000"});
    o.cwd = dir.path();
    const toolResult r = runTool(GLOSSEL, {"A.jpg", "B.jpg"}, o);
    SCOPED_TRACE("cut at read " + std::to_string(read));
    const std::string a = "A.jpg:\n" + std::string(20000, 'A') + "\n";
    if (r.out == a + "B.jpg:\n" + bComment + "\n") {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.out, a);
      EXPECT_EQ(r.err, "chronel: B.jpg is truncated: the file shrank to 5000 bytes while it was read.\n");
    }
  }
}

// A HEIF file's Exif item in two extents apart, cut just after the first
// bytes of the item are read: the block joined from its extents holds
// nothing that is not the file's, so the cut is reported as one.
TEST(ChangingFiles, AnExifItemCutAfterItWasLocatedIsReportedNotFilledIn) {
  tempDir dir;
  heifLayout layout;
  layout.extents = 2;
  layout.imageBytes = 9000;  // the item two pages on, read after the boxes
  const bytes file = heifFile(tiffWriter().dateTimeOriginal("2021:06:15 08:30:45").build(), layout);
  // The item's first extent begins with its TIFF header offset, 6, and "Exif".
  const bytes head = join({be32(6), toBytes("Exif")});
  const size_t item = size_t(std::search(file.begin(), file.end(), head.begin(), head.end()) - file.begin());
  ASSERT_LT(item, file.size());
  saveBytes(dir / "cut.heic", file);
  const std::string cut = std::to_string(item + 8);
  runOptions o = withFaults({"ORVANE_FAULT_TRUNCATE=/cut.heic:2:" + cut, "TZ=UTC"});
  o.cwd = dir.path();
  const toolResult r = runTool(CHRONEL, {"cut.heic"}, o);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: cut.heic is truncated: the file shrank to " + cut + " bytes while it was read.\n");
}

// FAT keeps modification times in 2-second steps and access times as a
// date: a time stored rounded down is the capture time as well as the card
// can keep it.  A time outside FAT's years is still refused.
TEST(OddFileSystems, AMemoryCardsTwoSecondClockIsNoFailure) {
  tempDir dir;
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:01").build()).save(dir / "odd.jpg");
  jpegWriter().photo(tiffWriter().dateTimeOriginal("1975:01:05 10:00:00").build()).save(dir / "old.jpg");
  runOptions o = withFaults({"ORVANE_FAULT_FAT=1", "TZ=UTC"});
  o.cwd = dir.path();
  const toolResult r = runTool(CHRONEL, {"-m", "odd.jpg", "old.jpg"}, o);
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:01 2004 odd.jpg\n");
  EXPECT_EQ(r.err, "chronel: unable to set times on old.jpg: the file system cannot store that time.\n");
  EXPECT_EQ(mtimeOf(dir / "odd.jpg"), 1073296800);
}

// A file system whose times end at an odd second (2147483647 where they are
// 32-bit numbers) stores the second after it one second early: that is no
// card's 2-second step, which only ever gives even seconds, but a time the
// file system cannot store.
TEST(OddFileSystems, ATimeOneSecondPastTheFileSystemsLastIsRefused) {
  tempDir dir;
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2038:01:19 03:14:08").build()).save(dir / "late.jpg");
  runOptions o = withFaults({"ORVANE_FAULT_LATEST=2147483647", "TZ=UTC"});
  o.cwd = dir.path();
  const time_t untouched = mtimeOf(dir / "late.jpg");
  const toolResult r = runTool(CHRONEL, {"-m", "late.jpg"}, o);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: unable to set times on late.jpg: the file system cannot store that time.\n");
  EXPECT_EQ(mtimeOf(dir / "late.jpg"), untouched);
}

// Interrupted while it writes a clip by any signal that ends a process and
// can be handled, sonlift removes its temporary file, leaves the older .wav
// as it was and ends by the same signal.
TEST(Signals, AnInterruptedSonliftLeavesNothingBehind) {
  tempDir dir;
  jpegWriter w;
  w.soi();
  for (int k = 0; k < 4; ++k) w.segment(0xE2, toBytes("FPXR header " + std::to_string(k)));
  w.segment(0xE2, toBytes(std::string(41, 'h') + std::string("RIFF\x10\0\0\0WAVE", 12) +
                          std::string(5000, 'a')));
  w.frameHeaders().sos().raw({0x12, 0x34}).eoi().save(dir / "p.jpg");
  const rlimit noCore = {0, 0};  // SIGQUIT's and SIGXCPU's core is not wanted here
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGVTALRM, SIGPROF, SIGUSR1,
                  SIGUSR2, SIGXCPU}) {
    writeFile(dir / "p.jpg.wav", "older clip");
    runOptions o = withFaults({"ORVANE_FAULT_SIGNAL=.wav.:" + std::to_string(sig)});
    o.cwd = dir.path();
    rlimit core;
    getrlimit(RLIMIT_CORE, &core);
    setrlimit(RLIMIT_CORE, &noCore);
    const toolResult r = runTool(SONLIFT, {"p.jpg"}, o);
    setrlimit(RLIMIT_CORE, &core);
    SCOPED_TRACE(strsignal(sig));
    EXPECT_EQ(r.status, 128 + sig);
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"p.jpg", "p.jpg.wav"}));
    EXPECT_EQ(readFile(dir / "p.jpg.wav"), "older clip");
  }
}

// chronel reads the first kilobytes of a photograph of 100 GB; a tool that
// must read all of a file it cannot hold says that it cannot read it.
TEST(HugeFiles, MemoryGoesByWhatIsReadNotByTheFilesSize) {
  tempDir dir;
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build()).save(dir / "huge.jpg");
  if (truncate((dir / "huge.jpg").c_str(), 100LL << 30) != 0) GTEST_SKIP() << "no 100 GB sparse file here";
  toolResult r = runTool(CHRONEL, {"huge.jpg"}, {{"TZ=UTC"}, dir.path()});
  if (sizeof(size_t) < 8) {
    EXPECT_EQ(r.err, "chronel: unable to open huge.jpg: File too large.\n");
    return;
  }
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 huge.jpg\n");
  EXPECT_EQ(r.err, "");

#ifndef ORVANE_TEST_ASAN  // the sanitizer reserves terabytes of address space
  if (underEmulation()) GTEST_SKIP() << "ulimit -v bounds qemu, not the program";
  // An image stream without EOI: segdump must read on to the file's end.
  jpegWriter().soi().frameHeaders().sos().raw({0x12, 0x34}).save(dir / "scan.jpg");
  ASSERT_EQ(truncate((dir / "scan.jpg").c_str(), 100LL << 30), 0);
  r = runToolMerged(SEGDUMP, {"scan.jpg"}, {{}, dir.path()}, "ulimit -v 300000; ");
  EXPECT_EQ(r.out, "chronel: unable to read scan.jpg: Cannot allocate memory.\n");
#endif
}

// The largest resident memory, in kilobytes, of a program run with its
// standard output in a file: its own figure, as the kernel counted it.
long peakKilobytes(const std::string& program, const std::vector<std::string>& args,
                   const std::string& out) {
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage use = {};
  if (pid < 0 || wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return use.ru_maxrss;
}

// The marker tools keep a file's segments, not its image data: a JPEG
// whose scan fills 2 GiB is listed to its EOI in a fraction of that.
TEST(HugeFiles, MarkerToolsKeepTheSegmentsAndLetTheImageDataGo) {
#ifdef ORVANE_TEST_ASAN
  GTEST_SKIP() << "the sanitizer's shadow memory is no figure of the program's";
#endif
  if (sizeof(size_t) < 8 || underEmulation()) GTEST_SKIP() << "a 64-bit program, measured by the kernel";
  tempDir dir;
  const std::string name = dir / "scan.jpg";
  jpegWriter().soi().com("before").frameHeaders().sos().save(name);
  ASSERT_EQ(truncate(name.c_str(), (2LL << 30) - 2), 0);
  {
    std::fstream file(name, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(1LL << 30);
    file.write("\xFF\xD0", 2);  // a restart marker half way
    file.seekp(0, std::ios::end);
    file.write("\xFF\xD9", 2);
  }
  EXPECT_LE(peakKilobytes(SEGDUMP, {name}, dir / "segdump.out"), 128 * 1024);
  const std::string listed = readFile(dir / "segdump.out");
  EXPECT_NE(listed.find("marker type RST0, len = 2, offset = 1073741824"), std::string::npos);
  EXPECT_NE(listed.find("marker type EOI, len = 2, offset = 2147483646"), std::string::npos);
  EXPECT_LE(peakKilobytes(GLOSSEL, {name}, dir / "glossel.out"), 128 * 1024);
  EXPECT_EQ(readFile(dir / "glossel.out"), name + ":\nbefore\n");
}

// A sparse file of 15 TB (a few bytes on disk) is no abort: the map of the
// pages read of it costs memory only where bits are set, and where a memory
// limit leaves no room for it, the file gets a report line and the next one
// is read.
TEST(HugeFiles, ATerabyteFileUnderAMemoryLimitIsAReportLine) {
#ifdef ORVANE_TEST_ASAN
  GTEST_SKIP() << "the sanitizer reserves terabytes of address space";
#endif
  if (sizeof(size_t) < 8 || underEmulation()) GTEST_SKIP() << "a 64-bit process bounded by ulimit -v";
  tempDir dir;
  const bytes dated = tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build();
  jpegWriter().photo(dated).save(dir / "huge.jpg");
  jpegWriter().photo(dated).save(dir / "next.jpg");
  if (truncate((dir / "huge.jpg").c_str(), 15LL << 40) != 0) GTEST_SKIP() << "no 15 TB sparse file here";
  const toolResult r =
      runToolMerged(CHRONEL, {"huge.jpg", "next.jpg"}, {{"TZ=UTC"}, dir.path()}, "ulimit -v 300000; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "chronel: unable to open huge.jpg: Cannot allocate memory.\n"
            "Mon Jan  5 10:00:00 2004 next.jpg\n");
}

// A full disk loses the output itself: the one failure that is not
// status 0.  One line says so, and no further file is handled.
TEST(FullDisks, AFailedWriteToStandardOutputIsAFailure) {
  tempDir dir;
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build()).save(dir / "a.jpg");
  const std::string full = "chronel: unable to write standard output: No space left on device.\n";
  for (const char* tool : {CHRONEL, SEGDUMP, GLOSSEL, SONLIFT}) {
    runOptions o{{}, dir.path()};
    o.stdoutTo = "/dev/full";
    const toolResult r = runTool(tool, {"a.jpg", "missing.jpg"}, o);
    SCOPED_TRACE(tool);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.size() < full.size() ? 0 : r.err.size() - full.size()), full);
  }
  runOptions o{{}, dir.path()};
  o.stdoutTo = "/dev/full";
  const toolResult r = runTool(CHRONEL, {"-p"}, o);
  EXPECT_EQ(r.err, "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]\n" + full);
  EXPECT_EQ(r.status, 1);
}

// On slow storage chronel asks for the next photographs' heads ahead, and
// trusts nothing of it: a photograph replaced after its head was asked for
// is read as it is then, and a FIFO among them is refused, never opened.
TEST(LookAhead, APhotographReplacedAfterItsLookAheadIsReadAsItIsThen) {
  tempDir dir;
  auto dated = [&](const std::string& name, const std::string& date) {
    jpegWriter().photo(tiffWriter().dateTimeOriginal(date).build()).save(dir / name);
  };
  dated("a.jpg", "2001:01:01 01:01:01");
  dated("b.jpg", "2002:02:02 02:02:02");
  dated("c.jpg", "2003:03:03 03:03:03");
  dated("new.jpg", "2009:09:09 09:09:09");
  ASSERT_EQ(mkfifo((dir / "f").c_str(), 0600), 0);
  // Cold storage, and storage that cannot tell (a network file system).
  for (const char* cold : {"1", "EOPNOTSUPP"}) {
    SCOPED_TRACE(cold);
    dated("b.jpg", "2002:02:02 02:02:02");
    dated("new.jpg", "2009:09:09 09:09:09");
    runOptions o = withFaults({std::string("ORVANE_FAULT_COLD=") + cold,
                               "ORVANE_FAULT_REPLACE=/b.jpg:" + (dir / "new.jpg"), "TZ=UTC"});
    o.cwd = dir.path();
    o.timeoutSeconds = 20;
    const toolResult r = runTool(CHRONEL, {"a.jpg", "f", "b.jpg", "c.jpg"}, o);
    EXPECT_EQ(r.out,
              "Mon Jan  1 01:01:01 2001 a.jpg\n"
              "Wed Sep  9 09:09:09 2009 b.jpg\n"
              "Mon Mar  3 03:03:03 2003 c.jpg\n");
    EXPECT_EQ(r.err, "chronel: unable to open f: Invalid argument.\n");
    EXPECT_FALSE(std::ifstream(dir / "new.jpg")) << "b.jpg's head was never asked for";
  }
}

// A file system held in memory (tmpfs) cannot say what is cached, and is
// never slow: nothing is looked ahead there, so b.jpg is not replaced.
TEST(LookAhead, NothingIsLookedAheadOnAFileSystemInMemory) {
  tempDir dir;
  if (mount("orvane-test", dir.path().c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (not root): " << strerror(errno);
  struct unmount {
    std::string path;
    ~unmount() { umount2(path.c_str(), MNT_DETACH); }
  } mounted{dir.path()};
  auto dated = [&](const std::string& name, const std::string& date) {
    jpegWriter().photo(tiffWriter().dateTimeOriginal(date).build()).save(dir / name);
  };
  dated("a.jpg", "2001:01:01 01:01:01");
  dated("b.jpg", "2002:02:02 02:02:02");
  dated("new.jpg", "2009:09:09 09:09:09");
  runOptions o = withFaults({"ORVANE_FAULT_REPLACE=/b.jpg:" + (dir / "new.jpg"), "TZ=UTC"});
  o.cwd = dir.path();
  const toolResult r = runTool(CHRONEL, {"a.jpg", "b.jpg"}, o);
  EXPECT_EQ(r.out, "Mon Jan  1 01:01:01 2001 a.jpg\nSat Feb  2 02:02:02 2002 b.jpg\n");
  EXPECT_TRUE(std::ifstream(dir / "new.jpg")) << "b.jpg was looked ahead";
}

// A name that another process swaps for a FIFO between its look and its
// open (RENAME_EXCHANGE, at the worst moment) is never opened: the file
// read is the one that was looked at, or the FIFO is refused unopened.  The
// same holds for the look-ahead on slow storage, and where /proc is not
// mounted the photographs are still read.
TEST(Races, ANameSwappedForAFifoIsNeverOpened) {
  tempDir dir;
  auto dated = [&](const std::string& name, const std::string& date) {
    jpegWriter().photo(tiffWriter().dateTimeOriginal(date).build()).save(dir / name);
  };
  struct run {
    const char* cold;
    const char* out;
    const char* err;
  };
  auto reset = [&] {
    unlink((dir / "b.jpg").c_str());
    unlink((dir / "fifo").c_str());
    dated("a.jpg", "2001:01:01 01:01:01");
    dated("b.jpg", "2002:02:02 02:02:02");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  };
  for (const run& k : {run{nullptr, "Sat Feb  2 02:02:02 2002 b.jpg\n", ""},
                       run{"1", "", "chronel: unable to open b.jpg: Invalid argument.\n"}}) {
    SCOPED_TRACE(k.cold ? "looked ahead" : "opened");
    reset();
    std::vector<std::string> faults = {"ORVANE_FAULT_SWAP=b.jpg:fifo", "TZ=UTC"};
    if (k.cold) faults.push_back(std::string("ORVANE_FAULT_COLD=") + k.cold);
    runOptions o = withFaults(faults);
    o.cwd = dir.path();
    o.timeoutSeconds = 20;
    const toolResult r = runTool(CHRONEL, {"a.jpg", "b.jpg"}, o);
    EXPECT_EQ(r.out, std::string("Mon Jan  1 01:01:01 2001 a.jpg\n") + k.out);
    EXPECT_EQ(r.err, k.err);  // and no "faults: opened a FIFO or device"
  }
  reset();
  runOptions o = withFaults({"ORVANE_FAULT_NOPROC=1", "TZ=UTC"});
  o.cwd = dir.path();
  const toolResult r = runTool(CHRONEL, {"a.jpg", "fifo"}, o);
  EXPECT_EQ(r.out, "Mon Jan  1 01:01:01 2001 a.jpg\n");
  EXPECT_EQ(r.err, "chronel: unable to open fifo: Invalid argument.\n");
}


}  // namespace
