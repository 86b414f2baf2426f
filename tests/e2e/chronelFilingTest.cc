// chronel -n: filing photographs by capture time, never over another file,
// with their sidecars, a dry run and an exact undo (-u).  Races, a killed
// run and file systems without the no-replace rename are made exact by the
// fault library (support/faults.cc).
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

const char usage[] = "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]\n";

// Every file under a folder, by its path relative to it, with its bytes.
void collect(const std::string& root, const std::string& under, std::map<std::string, std::string>& out) {
  for (const std::string& name : listDir(under.empty() ? root : root + "/" + under)) {
    const std::string rel = under.empty() ? name : under + "/" + name;
    struct stat st;
    ASSERT_EQ(lstat((root + "/" + rel).c_str(), &st), 0);
    if (S_ISDIR(st.st_mode))
      collect(root, rel, out);
    else
      out[rel] = readFile(root + "/" + rel);
  }
}

std::map<std::string, std::string> tree(const std::string& root) {
  std::map<std::string, std::string> out;
  collect(root, "", out);
  return out;
}

// The paths where two trees differ, the first few of them: short enough to
// read when 1,500 files are compared.
std::string differences(const std::map<std::string, std::string>& a,
                        const std::map<std::string, std::string>& b) {
  std::string out;
  int shown = 0;
  for (const auto& f : a) {
    const auto other = b.find(f.first);
    if ((other == b.end() || other->second != f.second) && shown++ < 5) out += "first only: " + f.first + "\n";
  }
  for (const auto& f : b)
    if (!a.count(f.first) && shown++ < 10) out += "second only: " + f.first + "\n";
  return out;
}

class ChronelFiling : public ::testing::Test {
 protected:
  // A photograph taken at date whose bytes are its own (its name follows
  // the image), so that a file's bytes tell which photograph it is.
  void photo(const std::string& name, const std::string& date) {
    tiffWriter t;
    t.dateTimeOriginal(date);
    jpegWriter().photo(t.build()).text(name).save(dir / name);
  }
  toolResult run(const std::vector<std::string>& args, std::vector<std::string> faults = {}) {
    runOptions o = faults.empty() ? runOptions() : withFaults(faults);
    o.env.push_back("TZ=UTC");
    o.cwd = dir.path();
    return runTool(CHRONEL, args, o);
  }
  tempDir dir;
};

// Three photographs of one second and a file that was there before: the
// first free suffixes, the foreign file untouched, extensions as given.
TEST_F(ChronelFiling, CollisionsTakeTheFirstFreeSuffixAndReplaceNothing) {
  for (const char* name : {"a.JPG", "b.JPG", "c.JPG"}) photo(name, "2024:07:01 10:00:00");
  writeFile(dir / "20240701-100000.JPG", "foreign");
  const std::map<std::string, std::string> before = tree(dir.path());
  const toolResult r = run({"-n", "%Y%m%d-%H%M%S", "a.JPG", "b.JPG", "c.JPG"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Mon Jul  1 10:00:00 2024 a.JPG -> 20240701-100000-1.JPG\n"
            "Mon Jul  1 10:00:00 2024 b.JPG -> 20240701-100000-2.JPG\n"
            "Mon Jul  1 10:00:00 2024 c.JPG -> 20240701-100000-3.JPG\n");
  EXPECT_EQ(tree(dir.path()),
            (std::map<std::string, std::string>{{"20240701-100000.JPG", "foreign"},
                                                {"20240701-100000-1.JPG", before.at("a.JPG")},
                                                {"20240701-100000-2.JPG", before.at("b.JPG")},
                                                {"20240701-100000-3.JPG", before.at("c.JPG")}}));
}

// Where the file system refuses RENAME_NOREPLACE, the same names, through
// a second link: still nothing replaced.
TEST_F(ChronelFiling, WithoutTheNoReplaceRenameNothingIsReplacedEither) {
  photo("a.jpg", "2024:07:01 10:00:00");
  writeFile(dir / "x.jpg", "foreign");
  const toolResult r = run({"-q", "-n", "x", "a.jpg"}, {"ORVANE_FAULT_NOREPLACE=1"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"x.jpg", "x-1.jpg"}));
  EXPECT_EQ(readFile(dir / "x.jpg"), "foreign");
}

// Killed between the second link and the removal of the old name, the
// file has both names: -u takes the new one away.
TEST_F(ChronelFiling, UndoOfALinkWithoutItsRemovalLeavesTheOldName) {
  photo("a.jpg", "2024:07:01 10:00:00");
  const std::map<std::string, std::string> before = tree(dir.path());
  runOptions o = withFaults({"ORVANE_FAULT_NOREPLACE=1", "ORVANE_FAULT_KILL_UNLINK=1", "TZ=UTC"});
  o.cwd = dir.path();
  o.stdoutTo = dir / "journal";
  EXPECT_EQ(runTool(CHRONEL, {"-j", "-n", "x", "a.jpg"}, o).status, 128 + SIGKILL);
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"a.jpg", "x.jpg", "journal"}));
  const toolResult undone = run({"-u", "journal"});
  EXPECT_EQ(undone.out, "x.jpg -> a.jpg\n");
  EXPECT_EQ(undone.err, "");
  std::map<std::string, std::string> after = tree(dir.path());
  after.erase("journal");
  EXPECT_EQ(after, before);
}

// The sidecars take the new stem or the new name; a sidecar also named on
// the command line is passed over quietly; a suffix is free for all.
TEST_F(ChronelFiling, SidecarsGoWithTheirPhotograph) {
  photo("IMG_1.HEIC", "2024:07:01 10:00:00");
  for (const char* s : {"IMG_1.xmp", "IMG_1.AAE", "IMG_1.HEIC.xmp", "IMG_1.HEIC.wav", "IMG_10.xmp"})
    writeFile(dir / s, s);
  writeFile(dir / "t.xmp", "foreign");  // the stem's sidecar is taken: a suffix for all
  const toolResult r = run({"-j", "-n", "t", "IMG_1.HEIC", "IMG_1.xmp"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "{\"file\": \"IMG_1.HEIC\", \"time\": 1719828000, \"taken\": \"2024-07-01T10:00:00+00:00\", "
            "\"source\": \"DateTimeOriginal\", \"zone\": \"TZ\", \"renamed\": \"t-1.HEIC\"}\n"
            "{\"file\": \"IMG_1.xmp\", \"renamed\": \"t-1.xmp\", \"with\": \"IMG_1.HEIC\"}\n"
            "{\"file\": \"IMG_1.AAE\", \"renamed\": \"t-1.AAE\", \"with\": \"IMG_1.HEIC\"}\n"
            "{\"file\": \"IMG_1.HEIC.xmp\", \"renamed\": \"t-1.HEIC.xmp\", \"with\": \"IMG_1.HEIC\"}\n"
            "{\"file\": \"IMG_1.HEIC.wav\", \"renamed\": \"t-1.HEIC.wav\", \"with\": \"IMG_1.HEIC\"}\n");
  EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"t-1.HEIC", "t-1.xmp", "t-1.AAE", "t-1.HEIC.xmp",
                                                        "t-1.HEIC.wav", "t.xmp", "IMG_10.xmp"}));
  EXPECT_EQ(readFile(dir / "t-1.AAE"), "IMG_1.AAE");
}

// A FORMAT without '/' keeps each file in its folder; with '/' it is a
// path from the current folder, whose folders are made.  A second run
// from the same folder over what the first filed changes nothing.
TEST_F(ChronelFiling, FilingTwiceChangesNothing) {
  ASSERT_EQ(mkdir((dir / "in").c_str(), 0777), 0);
  photo("in/a.jpg", "2024:07:01 10:00:00");
  photo("in/b.jpg", "2024:07:01 10:00:00");
  EXPECT_EQ(run({"-n", "%y%j", "in/a.jpg"}).out, "Mon Jul  1 10:00:00 2024 in/a.jpg -> in/24183.jpg\n");
  const toolResult first = run({"-n", "%Y/%m/%d-%H%M%S", "in/24183.jpg", "in/b.jpg"});
  EXPECT_EQ(first.out,
            "Mon Jul  1 10:00:00 2024 in/24183.jpg -> 2024/07/01-100000.jpg\n"
            "Mon Jul  1 10:00:00 2024 in/b.jpg -> 2024/07/01-100000-1.jpg\n");
  const std::map<std::string, std::string> filed = tree(dir.path());
  const toolResult again = run({"-n", "%Y/%m/%d-%H%M%S", "2024/07/01-100000.jpg", "./2024/07/01-100000-1.jpg"});
  EXPECT_EQ(again.out,
            "Mon Jul  1 10:00:00 2024 2024/07/01-100000.jpg\n"
            "Mon Jul  1 10:00:00 2024 ./2024/07/01-100000-1.jpg\n");
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(tree(dir.path()), filed);
}

// -t prints exactly what the real run then prints, report lines included,
// and changes nothing on disk, not even a folder.
TEST_F(ChronelFiling, ADryRunPrintsWhatTheRunDoes) {
  photo("a.jpg", "2024:07:01 10:00:00");
  photo("b.jpg", "2024:07:01 10:00:00");
  photo("c.jpg", "2023:01:02 03:04:05");
  writeFile(dir / "b.xmp", "b's sidecar");
  writeFile(dir / "notes.txt", "no photograph");
  const std::vector<std::string> args = {"-j",        "-n",    "%Y/%f-%m", "a.jpg", "b.jpg",
                                         "notes.txt", "c.jpg", "b.xmp",    "a.jpg"};
  std::vector<std::string> dry = args;
  dry.insert(dry.begin(), "-t");
  const std::map<std::string, std::string> before = tree(dir.path());
  const toolResult shown = run(dry);
  EXPECT_EQ(tree(dir.path()), before);
  const toolResult done = run(args);
  EXPECT_EQ(shown.out, done.out);
  EXPECT_EQ(shown.err, done.err);
  EXPECT_EQ(done.err,
            "chronel: notes.txt has no EXIF data.\n"
            "chronel: unable to open a.jpg: No such file or directory.\n");
  EXPECT_NE(before, tree(dir.path()));
}

// Names with newlines, blanks, quotes and bytes that are not UTF-8 go out
// and come back byte for byte; -u -t shows the undo and does nothing.
TEST_F(ChronelFiling, UndoPutsEveryNameBackExactly) {
  const std::vector<std::string> names = {"line\nbreak.jpg", " two  blanks .jpg", "say \"hi\"\\.jpg",
                                          "not utf-8 \xff\xc3(.jpg", "caf\xc3\xa9 \xf0\x9f\x93\xb7.jpg"};
  std::vector<std::string> args = {"-j", "-n", "filed/%H%M%S"};
  for (const std::string& n : names) {
    photo(n, "2024:07:01 10:00:00");
    writeFile(dir / (n + ".xmp"), n);
    args.push_back(n);
  }
  const std::map<std::string, std::string> before = tree(dir.path());
  const toolResult filing = run(args);
  EXPECT_EQ(filing.err, "");
  writeFile(dir / "journal", filing.out);
  const std::map<std::string, std::string> filed = tree(dir.path());
  EXPECT_EQ(filed.size(), before.size() + 1);
  const toolResult shown = run({"-t", "-j", "-u", "journal"});
  EXPECT_EQ(tree(dir.path()), filed);
  const toolResult undone = run({"-j", "-u", "journal"});
  EXPECT_EQ(undone.err, "");
  EXPECT_EQ(shown.out, undone.out);
  std::map<std::string, std::string> back = tree(dir.path());
  back.erase("journal");
  EXPECT_EQ(back, before);
  // The undo's own lines are a journal: undoing them files again.
  writeFile(dir / "undo-journal", undone.out);
  EXPECT_EQ(run({"-q", "-u", "undo-journal"}).err, "");
  std::map<std::string, std::string> again = tree(dir.path());
  again.erase("undo-journal");
  EXPECT_EQ(again, filed);
}

// A line that chronel does not write: a report line with the journal and
// the line's number; the other lines are undone.
TEST_F(ChronelFiling, AMalformedJournalLineIsReportedAndPassedOver) {
  photo("a.jpg", "2024:07:01 10:00:00");
  const toolResult filing = run({"-j", "-n", "x", "a.jpg"});
  writeFile(dir / "journal", "{\"file\": \"gone.jpg\", \"renamed\": \"\\udc41.jpg\"}\n" + filing.out +
                                 "{\"file\": \"b.jpg\", \"renamed\": 3}\n");
  const toolResult r = run({"-u", "journal", "missing"});
  EXPECT_EQ(r.out, "x.jpg -> a.jpg\n");
  EXPECT_EQ(r.err,
            "chronel: unable to read the journal journal: line 1 is not a line that chronel writes.\n"
            "chronel: unable to read the journal journal: line 3 is not a line that chronel writes.\n"
            "chronel: unable to read the journal missing: No such file or directory.\n");
  EXPECT_TRUE(listDir(dir.path()).count("a.jpg"));
}

// A target on another file system: a report line, nothing copied, no
// folder made there.
TEST_F(ChronelFiling, AnotherFileSystemGetsAReportLine) {
  struct stat shm, here;
  if (stat("/dev/shm", &shm) != 0 || stat(dir.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
    GTEST_SKIP() << "/dev/shm is not another file system here";
  photo("a.jpg", "2024:07:01 10:00:00");
  const std::string target = "/dev/shm/chronel-filing-" + std::to_string(getpid());
  const toolResult r = run({"-n", target + "/%Y/%H", "a.jpg"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "chronel: unable to file a.jpg: its target is on another file system (nothing is copied).\n");
  EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"a.jpg"});
  EXPECT_NE(access(target.c_str(), F_OK), 0);
}

// Another process swaps the photograph's name with another file's just
// before the rename: that file moved, is seen to be another by the check
// after the rename, and goes back; nothing is lost, nothing filed wrong.
TEST_F(ChronelFiling, AFileSwappedInDuringTheRenameGoesBack) {
  photo("a.jpg", "2024:07:01 10:00:00");
  writeFile(dir / "other", "another file");
  const std::string photograph = readFile(dir / "a.jpg");
  const toolResult r = run({"-n", "x", "a.jpg"}, {"ORVANE_FAULT_SWAP_AT_RENAME=a.jpg:other"});
  EXPECT_EQ(r.out, "Mon Jul  1 10:00:00 2024 a.jpg -> x.jpg\n");
  EXPECT_EQ(r.err, "chronel: unable to file a.jpg: another file took its name during the rename; it is back.\n");
  EXPECT_EQ(tree(dir.path()),
            (std::map<std::string, std::string>{{"a.jpg", "another file"}, {"other", photograph}}));
}

// A run of 1,500 renames killed in the middle, then -u on what it wrote:
// every file back under its name, none lost or doubled.
TEST_F(ChronelFiling, ARunKilledInTheMiddleIsUndoneWhole) {
  std::vector<std::string> args = {"-j", "-n", "%Y/%m/%d/%H%M%S"};
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "p" + std::to_string(i) + ".jpg";
    const int s = i / 3;  // three photographs a second
    char date[32];
    std::snprintf(date, sizeof date, "2024:07:%02d %02d:%02d:%02d", 1 + s / 100, s / 60 % 24, s % 60, i % 7);
    photo(name, date);
    if (i % 10 == 0) writeFile(dir / ("p" + std::to_string(i) + ".xmp"), name);
    args.push_back(name);
  }
  const std::map<std::string, std::string> before = tree(dir.path());
  runOptions o = withFaults({"ORVANE_FAULT_KILL_RENAME=800", "TZ=UTC"});
  o.cwd = dir.path();
  o.stdoutTo = dir / "journal";
  const toolResult killed = runTool(CHRONEL, args, o);
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  const std::string journal = readFile(dir / "journal");
  EXPECT_GT(std::count(journal.begin(), journal.end(), '\n'), 700);
  const toolResult undone = run({"-q", "-u", "journal"});
  EXPECT_EQ(undone.err, "");
  std::map<std::string, std::string> after = tree(dir.path());
  after.erase("journal");
  EXPECT_EQ(differences(after, before), "");
}

// Options: -n with -p, an unknown conversion or a lone '%' at the end, and
// -u with -n: the usage line and nothing done.  -t alone: the plain output.
TEST_F(ChronelFiling, OptionRules) {
  photo("a.jpg", "2024:07:01 10:00:00");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-n", "%Y", "-p", "a.jpg"}, {"-n", "%Y%x", "a.jpg"}, {"-n", "%Y%", "a.jpg"},
        {"-u", "-n", "%Y", "a.jpg"}}) {
    const toolResult r = run(args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, usage);
  }
  const toolResult t = run({"-t", "a.jpg"});
  EXPECT_EQ(t.out, "Mon Jul  1 10:00:00 2024 a.jpg\n");
  // A name part that a folder cannot hold: a report line, the file stays.
  const toolResult bad = run({"-n", "%Y//%m", "a.jpg"});
  EXPECT_EQ(bad.err, "chronel: unable to file a.jpg: the format gives it an empty name part.\n");
  EXPECT_EQ(run({"-n", "x/../%Y", "a.jpg"}).err,
            "chronel: unable to file a.jpg: the format gives it the name part \"..\".\n");
  EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"a.jpg"});
}

// -n -m: the rename, then the time, set on the very file.
TEST_F(ChronelFiling, WithMTheFiledPhotographGetsItsTime) {
  photo("a.jpg", "2024:07:01 10:00:00");
  EXPECT_EQ(run({"-q", "-m", "-n", "%Y", "a.jpg"}).err, "");
  struct stat st;
  ASSERT_EQ(stat((dir / "2024.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1719828000);
}

}  // namespace
