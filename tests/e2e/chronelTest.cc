// chronel end to end: its exact output, report lines and modification times
// for good and failing photographs, with the time zone set by each test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

const std::string usageLine = "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]\n";

struct timespec at(time_t sec, long nsec) {
  struct timespec t;
  t.tv_sec = sec;
  t.tv_nsec = nsec;
  return t;
}

void setTimes(const std::string& path, struct timespec atime, struct timespec mtime) {
  struct timespec times[2] = {atime, mtime};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

struct stat statOf(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

#define EXPECT_TIMESPEC(actual, sec, nsec)  \
  do {                                      \
    EXPECT_EQ((actual).tv_sec, (sec));      \
    EXPECT_EQ((actual).tv_nsec, (nsec));    \
  } while (0)

class Chronel : public ::testing::Test {
 protected:
  // The GNU option parser looks at this; each test that wants it sets it.
  void SetUp() override { unsetenv("POSIXLY_CORRECT"); }

  // A photograph whose DateTimeOriginal reads date.
  void photo(const std::string& name, const std::string& date, bool bigEndian = false) {
    tiffWriter t(bigEndian);
    t.dateTimeOriginal(date);
    jpegWriter().photo(t.build()).save(dir / name);
  }

  toolResult run(const std::vector<std::string>& args, const std::string& tz = "UTC",
                 std::vector<std::string> env = {}) {
    env.push_back("TZ=" + tz);
    return runTool(CHRONEL, args, {env, dir.path()});
  }

  // Both streams in one, as a terminal shows them: the order of lines across
  // the two streams is part of the output.
  toolResult runMerged(const std::vector<std::string>& args, const std::string& tz = "UTC") {
    return runToolMerged(CHRONEL, args, {{"TZ=" + tz}, dir.path()});
  }

  tempDir dir;
};

TEST_F(Chronel, WithoutFileNamesPrintsTheUsageLineAndStillPairsThePhpBlock) {
  toolResult r = run({});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, usageLine);
  EXPECT_EQ(r.status, 0);

  r = run({"-p"});
  EXPECT_EQ(r.out, "<?php\n?>\n");
  EXPECT_EQ(r.err, usageLine);
  EXPECT_EQ(r.status, 0);

  r = run({"-q", "-m"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, usageLine);
  EXPECT_EQ(r.status, 0);
}

TEST_F(Chronel, PlainLineKeepsTheArgumentAndThePhpLineOnlyItsBaseName) {
  ASSERT_EQ(mkdir((dir / "photos").c_str(), 0755), 0);
  photo("photos/p0000001.jpg", "2004:01:05 10:00:00");
  photo("p0000002.jpg", "2004:12:25 08:30:09", true);

  toolResult r = run({"photos/p0000001.jpg", "p0000002.jpg", "./p0000002.jpg"});
  EXPECT_EQ(r.out,
            "Mon Jan  5 10:00:00 2004 photos/p0000001.jpg\n"
            "Sat Dec 25 08:30:09 2004 p0000002.jpg\n"
            "Sat Dec 25 08:30:09 2004 ./p0000002.jpg\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);

  r = run({"-p", "photos/p0000001.jpg", "p0000002.jpg", "./p0000002.jpg"});
  EXPECT_EQ(r.out,
            "<?php\n"
            "  $vx_image_times[\"p0000001.jpg\"] = 1073296800;\n"
            "  $vx_image_times[\"p0000002.jpg\"] = 1103963409;\n"
            "  $vx_image_times[\"p0000002.jpg\"] = 1103963409;\n"
            "?>\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Chronel, QuietSuppressesOnlyThePlainLine) {
  photo("a.jpg", "2004:01:05 10:00:00");
  jpegWriter().photo().save(dir / "plain.jpg");

  // -q alone tests the photographs: report lines only.
  toolResult r = run({"-q", "a.jpg", "plain.jpg"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: plain.jpg has no EXIF data.\n");
  EXPECT_EQ(r.status, 0);

  // -q has no effect on the PHP block; repeating a flag changes nothing.
  r = run({"-p", "-q", "-q", "-p", "a.jpg"});
  EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n");
  EXPECT_EQ(r.err, "");

  r = run({"-qp", "a.jpg"});
  EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n");
}

TEST_F(Chronel, AFailingFileGetsOneReportLineBetweenTheOthersOutput) {
  photo("one.jpg", "2004:01:05 10:00:00");
  tiffWriter noTag;
  noTag.ascii(dir::ifd0, 0x0132, "2004:01:06 10:00:00");  // DateTime, not DateTimeOriginal
  jpegWriter().photo(noTag.build()).save(dir / "two.jpg");
  photo("three.jpg", "2004:01:07 10:00:00");

  toolResult r = runMerged({"-p", "one.jpg", "two.jpg", "three.jpg"});
  EXPECT_EQ(r.out,
            "<?php\n"
            "  $vx_image_times[\"one.jpg\"] = 1073296800;\n"
            "chronel: two.jpg does not contain DateTimeOriginal tag.\n"
            "  $vx_image_times[\"three.jpg\"] = 1073469600;\n"
            "?>\n");
  EXPECT_EQ(r.status, 0);

  r = runMerged({"one.jpg", "two.jpg", "three.jpg"});
  EXPECT_EQ(r.out,
            "Mon Jan  5 10:00:00 2004 one.jpg\n"
            "chronel: two.jpg does not contain DateTimeOriginal tag.\n"
            "Wed Jan  7 10:00:00 2004 three.jpg\n");
}

TEST_F(Chronel, ReportLinesForFilesWithoutACaptureTime) {
  jpegWriter().photo().save(dir / "noexif.jpg");
  tiffWriter noTag;
  noTag.ascii(dir::exif, 0x9004, "2004:01:05 10:00:00");  // DateTimeDigitized only
  jpegWriter().photo(noTag.build()).save(dir / "notag.jpg");
  photo("nopad.jpg", "2004:1:05 10:00:00");
  photo("zero.jpg", "0000:00:00 00:00:00");
  photo("dashes.jpg", "2004-01-05 10:00:00");
  photo("letter.jpg", "2004:01:05 10:00:0x");
  writeFile(dir / "notes.txt", "hello\n");
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);

  toolResult r = run({"x.jpg", "noexif.jpg", "notag.jpg", "nopad.jpg", "zero.jpg", "dashes.jpg",
                      "letter.jpg", "notes.txt", "sub"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "chronel: unable to open x.jpg: No such file or directory.\n"
            "chronel: noexif.jpg has no EXIF data.\n"
            "chronel: notag.jpg does not contain DateTimeOriginal tag.\n"
            "chronel: invalid DateTimeOriginal tag in nopad.jpg.\n"
            "chronel: zero.jpg contains invalid zero date.\n"
            "chronel: unable to tokenize DateTimeOriginal tag in dashes.jpg.\n"
            "chronel: unable to parse DateTimeOriginal tag in letter.jpg.\n"
            "chronel: notes.txt has no EXIF data.\n"
            "chronel: unable to open sub: Is a directory.\n");
  EXPECT_EQ(r.status, 0);
}

// Files are read one after the other into memory that may have held the
// file before: a shorter file must be judged on its own bytes.
TEST_F(Chronel, AShortFileAfterALongOneIsJudgedOnItsOwnBytes) {
  tiffWriter t;
  t.dateTimeOriginal("2004:01:05 10:00:00");
  jpegWriter longPhoto;
  longPhoto.soi().app0Jfif().app1Exif(t.build()).frameHeaders().sos().raw(bytes(300000, 0x55)).eoi();
  longPhoto.save(dir / "long.jpg");
  const std::string image = readFile(dir / "long.jpg");
  writeFile(dir / "cut.jpg", image.substr(0, 60));  // inside the EXIF segment

  toolResult r = run({"long.jpg", "cut.jpg", "long.jpg"});
  EXPECT_EQ(r.out,
            "Mon Jan  5 10:00:00 2004 long.jpg\n"
            "Mon Jan  5 10:00:00 2004 long.jpg\n");
  EXPECT_EQ(r.err,
            "chronel: cut.jpg is truncated: APP1 at offset 20 runs past the end of the file.\n");
}

TEST_F(Chronel, OptionsAreReadByTheGnuParser) {
  photo("a.jpg", "2004:01:05 10:00:00");
  const std::string phpBlock = "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n";

  // An unknown option: the parser's diagnostic, then every file as usual.
  toolResult r = run({"-x", "a.jpg"});
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 a.jpg\n");
  EXPECT_EQ(r.err, std::string(CHRONEL) + ": invalid option -- 'x'\n");
  EXPECT_EQ(r.status, 0);

  // Options after the file names are moved forward...
  r = run({"a.jpg", "-p"});
  EXPECT_EQ(r.out, phpBlock);
  EXPECT_EQ(r.err, "");

  // ... unless the environment asks for strict POSIX parsing.
  r = run({"a.jpg", "-p"}, "UTC", {"POSIXLY_CORRECT=1"});
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 a.jpg\n");
  EXPECT_EQ(r.err, "chronel: unable to open -p: No such file or directory.\n");

  // "--" ends the options: what follows is a file name.
  r = run({"-p", "--", "-q"});
  EXPECT_EQ(r.out, "<?php\n?>\n");
  EXPECT_EQ(r.err, "chronel: unable to open -q: No such file or directory.\n");
}

TEST_F(Chronel, CaptureTimesAreReadInTheProcessTimeZone) {
  photo("winter.jpg", "2004:01:05 10:00:00");
  photo("summer.jpg", "2004:07:01 12:00:00", true);
  const std::vector<std::string> files = {"winter.jpg", "summer.jpg"};

  // The wall-clock time of the tag comes back unchanged in every zone,
  // summer time included...
  const std::string plain =
      "Mon Jan  5 10:00:00 2004 winter.jpg\n"
      "Thu Jul  1 12:00:00 2004 summer.jpg\n";
  EXPECT_EQ(run(files, "UTC").out, plain);
  EXPECT_EQ(run(files, "Europe/Berlin").out, plain);

  // ... while the moment it names depends on the zone and its summer time:
  // 12:00 in a Berlin July is 10:00 UTC.
  std::vector<std::string> php = {"-p"};
  php.insert(php.end(), files.begin(), files.end());
  EXPECT_EQ(run(php, "UTC").out,
            "<?php\n"
            "  $vx_image_times[\"winter.jpg\"] = 1073296800;\n"
            "  $vx_image_times[\"summer.jpg\"] = 1088683200;\n"
            "?>\n");
  EXPECT_EQ(run(php, "Europe/Berlin").out,
            "<?php\n"
            "  $vx_image_times[\"winter.jpg\"] = 1073293200;\n"
            "  $vx_image_times[\"summer.jpg\"] = 1088676000;\n"
            "?>\n");
}

TEST_F(Chronel, TimesBeyond2038AndBeforeTheEpochAreValid) {
  photo("late.jpg", "2040:02:29 12:00:00");
  photo("minus1.jpg", "1969:12:31 23:59:59");
  photo("early.jpg", "1901:12:13 20:45:51");

  toolResult r = run({"late.jpg", "minus1.jpg", "early.jpg"});
  EXPECT_EQ(r.out,
            "Wed Feb 29 12:00:00 2040 late.jpg\n"
            "Wed Dec 31 23:59:59 1969 minus1.jpg\n"
            "Fri Dec 13 20:45:51 1901 early.jpg\n");
  EXPECT_EQ(r.err, "");

  r = run({"-p", "late.jpg", "minus1.jpg", "early.jpg"});
  EXPECT_EQ(r.out,
            "<?php\n"
            "  $vx_image_times[\"late.jpg\"] = 2214129600;\n"
            "  $vx_image_times[\"minus1.jpg\"] = -1;\n"
            "  $vx_image_times[\"early.jpg\"] = -2147483649;\n"
            "?>\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Chronel, SetsTheModificationTimeAndNothingElse) {
  photo("a.jpg", "2004:01:05 10:00:00");
  photo("b.jpg", "2004:07:01 12:00:00");
  const std::string before = readFile(dir / "a.jpg");
  // An access time older than the modification time: reading the file would
  // move it on a relatime mount.
  setTimes(dir / "a.jpg", at(981173106, 123456789), at(1600000000, 987654321));
  setTimes(dir / "b.jpg", at(981173106, 1), at(1600000000, 2));

  toolResult r = run({"-m", "a.jpg"});
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 a.jpg\n");
  EXPECT_EQ(r.err, "");
  struct stat st = statOf(dir / "a.jpg");
  EXPECT_TIMESPEC(st.st_mtim, 1073296800, 0);
  EXPECT_TIMESPEC(st.st_atim, 981173106, 123456789);
  EXPECT_EQ(readFile(dir / "a.jpg"), before);
  EXPECT_EQ(static_cast<size_t>(st.st_size), before.size());

  // -q -m: times set, nothing on standard output; in Berlin summer time.
  r = run({"-q", "-m", "b.jpg"}, "Europe/Berlin");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  st = statOf(dir / "b.jpg");
  EXPECT_TIMESPEC(st.st_mtim, 1088676000, 0);
  EXPECT_TIMESPEC(st.st_atim, 981173106, 1);

  // -m with -p: the assignment follows the change.
  setTimes(dir / "a.jpg", at(981173106, 5), at(1600000000, 6));
  r = run({"-p", "-m", "a.jpg"});
  EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n");
  st = statOf(dir / "a.jpg");
  EXPECT_TIMESPEC(st.st_mtim, 1073296800, 0);
  EXPECT_TIMESPEC(st.st_atim, 981173106, 5);
}

// A file system clamps a time it cannot hold (ext4: 1901-12-13 to
// 2446-05-10) without an error; chronel reads the stored time back.
TEST_F(Chronel, ATimeTheFileSystemCannotStoreIsReportedAndChangesNothing) {
  photo("late.jpg", "9999:12:31 23:59:59");
  photo("early.jpg", "1850:01:01 00:00:00");
  photo("fine.jpg", "2004:01:05 10:00:00");
  for (const char* name : {"late.jpg", "early.jpg"}) {
    setTimes(dir / name, at(253402300799, 0), at(-3786825600, 0));
    const struct stat st = statOf(dir / name);
    if (st.st_atim.tv_sec == 253402300799 && st.st_mtim.tv_sec == -3786825600)
      GTEST_SKIP() << "this file system stores years 1850 and 9999";
    setTimes(dir / name, at(1500000000, 7), at(1600000000, 8));
  }
  toolResult r = run({"-m", "late.jpg", "early.jpg", "fine.jpg"});
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 fine.jpg\n");
  EXPECT_EQ(r.err,
            "chronel: unable to set times on late.jpg: the file system cannot store that time.\n"
            "chronel: unable to set times on early.jpg: the file system cannot store that time.\n");
  for (const char* name : {"late.jpg", "early.jpg"}) {
    const struct stat st = statOf(dir / name);
    EXPECT_TIMESPEC(st.st_mtim, 1600000000, 8);
    EXPECT_TIMESPEC(st.st_atim, 1500000000, 7);
  }
  EXPECT_TIMESPEC(statOf(dir / "fine.jpg").st_mtim, 1073296800, 0);
}

TEST_F(Chronel, AModificationTimeThatMayNotBeSetIsReportedAndTheRestGoesOn) {
  if (!canDropPrivileges() || geteuid() != 0)
    GTEST_SKIP() << "needs root, to run chronel as a user who owns neither file";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  photo("locked.jpg", "2004:01:05 10:00:00");
  photo("mine.jpg", "2004:01:06 10:00:00");
  photo("last.jpg", "2004:01:07 10:00:00");
  for (const char* name : {"locked.jpg", "mine.jpg", "last.jpg"})
    ASSERT_EQ(chmod((dir / name).c_str(), 0644), 0);  // readable whatever the umask
  ASSERT_EQ(chown((dir / "mine.jpg").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(chown((dir / "last.jpg").c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  setTimes(dir / "locked.jpg", at(1500000000, 0), at(1600000000, 0));

  toolResult r = runTool(CHRONEL, {"-m", "mine.jpg", "locked.jpg", "last.jpg"},
                         {{"TZ=UTC"}, dir.path(), true});
  EXPECT_EQ(r.out,
            "Tue Jan  6 10:00:00 2004 mine.jpg\n"
            "Wed Jan  7 10:00:00 2004 last.jpg\n");
  EXPECT_EQ(r.err, "chronel: unable to set times on locked.jpg: Operation not permitted.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_TIMESPEC(statOf(dir / "locked.jpg").st_mtim, 1600000000, 0);
  EXPECT_TIMESPEC(statOf(dir / "mine.jpg").st_mtim, 1073383200, 0);
  EXPECT_TIMESPEC(statOf(dir / "last.jpg").st_mtim, 1073469600, 0);
}

// A build below a directory that only its owner may enter, as in a clone
// made in what mktemp -d gives: the tests that run a tool as another user
// still run it (from a copy that user can reach).
TEST_F(Chronel, ABuildInAPrivateDirectoryStillRunsAsAnotherUser) {
  if (geteuid() != 0 || !getpwnam("nobody")) GTEST_SKIP() << "needs root and the user nobody";
  tempDir home;
  ASSERT_EQ(chmod(home.path().c_str(), 0700), 0);
  const std::string program = CHRONEL;
  const std::string build = program.substr(0, program.rfind('/'));
  ASSERT_EQ(mkdir((home / "lib").c_str(), 0755), 0);
  const std::string copy = "cp -P '" + build + "'/lib/*.so* '" + home.path() + "/lib/' && cp '" +
                           program + "' '" + home.path() + "/chronel'";
  ASSERT_EQ(std::system(copy.c_str()), 0);
  toolResult r = runTool(home / "chronel", {}, {{}, dir.path(), true});
  EXPECT_EQ(r.err, usageLine);
  EXPECT_EQ(r.status, 0);
}

// Names that would end the PHP string or interpolate into it, as written
// into the block; names without backslash, double quote or dollar sign are
// written unchanged.
TEST_F(Chronel, PhpLineEscapesBackslashDoubleQuoteAndDollar) {
  ASSERT_EQ(mkdir((dir / "d").c_str(), 0755), 0);
  photo("x\".system('echo pwned').\".jpg", "2004:01:05 10:00:00");
  photo("$var.jpg", "2004:01:05 10:00:00");
  photo("a\\b\\.jpg", "2004:01:05 10:00:00");
  photo("d/it's {ok}.jpg", "2004:01:05 10:00:00");

  toolResult r = run({"-p", "x\".system('echo pwned').\".jpg", "$var.jpg", "a\\b\\.jpg",
                      "d/it's {ok}.jpg"});
  EXPECT_EQ(r.out,
            "<?php\n"
            "  $vx_image_times[\"x\\\".system('echo pwned').\\\".jpg\"] = 1073296800;\n"
            "  $vx_image_times[\"\\$var.jpg\"] = 1073296800;\n"
            "  $vx_image_times[\"a\\\\b\\\\.jpg\"] = 1073296800;\n"
            "  $vx_image_times[\"it's {ok}.jpg\"] = 1073296800;\n"
            "?>\n");
  EXPECT_EQ(r.err, "");

  // The plain line shows every name as given.
  r = run({"$var.jpg", "a\\b\\.jpg"});
  EXPECT_EQ(r.out,
            "Mon Jan  5 10:00:00 2004 $var.jpg\n"
            "Mon Jan  5 10:00:00 2004 a\\b\\.jpg\n");
}

std::string hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A page that includes the block must see exactly the file names as keys
// and their capture times as values, and nothing in a name may run.
class ChronelPhp : public Chronel {
 protected:
  void SetUp() override {
    Chronel::SetUp();
    php = findProgram("php");
    if (php.empty()) GTEST_SKIP() << "php (php-cli) is not installed";
  }

  // Photographs with these names, each with its own day of January 2004,
  // the block chronel writes for them, and what PHP sees in it.
  void expectPhpSeesExactly(const std::vector<std::string>& names) {
    ASSERT_EQ(mkdir((dir / "set").c_str(), 0755), 0);
    std::vector<std::string> args = {"-p"};
    std::string expected;
    for (size_t i = 0; i < names.size(); ++i) {
      const std::string day = std::to_string(101 + i).substr(1);  // 01, 02, ...
      photo("set/" + names[i], "2004:01:" + day + " 10:00:00", i % 2 == 1);
      args.push_back("set/" + names[i]);
      expected += hex(names[i]) + " " + std::to_string(1072951200 + 86400 * i) + "\n";
    }
    toolResult r = run(args);
    ASSERT_EQ(r.err, "");
    writeFile(dir / "times.php", r.out);
    writeFile(dir / "page.php",
              "<?php\n"
              "include 'times.php';\n"
              "foreach ($vx_image_times as $name => $time)\n"
              "  echo bin2hex((string)$name), ' ', var_export($time, true), \"\\n\";\n");

    toolResult page = runTool(php, {"-n", "-d", "display_errors=stderr", "-d",
                                    "error_reporting=-1", "page.php"},
                              {{}, dir.path()});
    EXPECT_EQ(page.out, expected);
    EXPECT_EQ(page.err, "");
    EXPECT_EQ(page.status, 0);
    for (const char* trace : {"pwned1", "pwned2", "pwned3", "pwned4"})
      EXPECT_NE(access((dir / trace).c_str(), F_OK), 0) << trace << " was created";
  }

  std::string php;
};

// Names that, written unescaped, still make valid PHP that runs a command.
TEST_F(ChronelPhp, NamesThatWouldRunCodeComeBackAsNames) {
  expectPhpSeesExactly({
      "x\".system('touch pwned1').\".jpg",
      "{${system('touch pwned2')}}.jpg",
      "${system('touch pwned3')}.jpg",
      "$vx_image_times.jpg",
  });
}

TEST_F(ChronelPhp, EveryKindOfOddNameComesBackExactly) {
  expectPhpSeesExactly({
      "plain.jpg",
      "price $5 {$a} $b[0]->c.jpg",
      "back\\slash\\.jpg",
      "trailing\\",
      "\\\"",
      "\\x41\\101\\u{41}\\n\\t\\e.jpg",
      "?>\n<?php system('touch pwned4'); ?>.jpg",
      "line\nbreak\ttab\r.jpg",
      "it's 'quoted'.jpg",
      "caf\xc3\xa9 \xff.jpg",
      "-p",
  });
}

// Photographs whose EXIF block an independent tool wrote, in both byte
// orders, with other date tags beside DateTimeOriginal.
TEST_F(Chronel, ReadsCaptureTimesThatExiftoolWrote) {
  const std::string exiftool = findProgram("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";

  for (const std::string order : {"II", "MM"}) {
    SCOPED_TRACE(order);
    const std::string name = "ex" + order + ".jpg";
    jpegWriter().photo().save(dir / name);
    std::vector<std::string> args = {"-q", "-overwrite_original", "-ExifByteOrder=" + order,
                                     "-DateTimeOriginal=2004:07:01 12:00:00",
                                     "-CreateDate=2005:02:03 04:05:06",
                                     "-ModifyDate=2006:03:04 05:06:07", "-Make=Orvane",
                                     "-Model=Test", name};
    toolResult w = runTool(exiftool, args, {{}, dir.path()});
    if (w.status != 0) {
      // exiftool refused the writer's small JPEG: start from one that an
      // image tool made, if there is one.
      const std::string convert = findProgram("convert");
      if (convert.empty()) GTEST_SKIP() << "exiftool refused the base JPEG: " << w.err;
      ASSERT_EQ(runTool(convert, {"-size", "8x8", "xc:gray", name}, {{}, dir.path()}).status, 0);
      w = runTool(exiftool, args, {{}, dir.path()});
      ASSERT_EQ(w.status, 0) << w.err;
    }
    const std::string image = readFile(dir / name);
    ASSERT_NE(image.find(std::string("Exif\0\0", 6) + order), std::string::npos)
        << "exiftool did not write a " << order << " block";

    toolResult r = run({name}, "Europe/Berlin");
    EXPECT_EQ(r.out, "Thu Jul  1 12:00:00 2004 " + name + "\n");
    EXPECT_EQ(r.err, "");
    r = run({"-p", name}, "Europe/Berlin");
    EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"" + name + "\"] = 1088676000;\n?>\n");
    r = run({"-p", name}, "UTC");
    EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"" + name + "\"] = 1088683200;\n?>\n");
  }
}

}  // namespace
