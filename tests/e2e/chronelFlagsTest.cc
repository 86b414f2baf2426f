// chronel's opt-in flags: -z reads the capture time in the camera's own UTC
// offset (OffsetTimeOriginal, else the GPS time), -j writes JSON Lines with
// where each time came from, -f falls back to the other EXIF dates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

class ChronelFlags : public ::testing::Test {
 protected:
  void photo(const std::string& name, const std::string& date, const std::string* offset = nullptr) {
    tiffWriter t;
    t.dateTimeOriginal(date);
    if (offset) t.ascii(dir::exif, 0x9011, *offset);
    jpegWriter().photo(t.build()).save(dir / name);
  }
  toolResult run(const std::vector<std::string>& args, const std::string& tz) {
    return runTool(CHRONEL, args, {{"TZ=" + tz}, dir.path()});
  }
  // A photograph whose tags exiftool wrote (-TAG=VALUE arguments); false
  // (the test skips) where exiftool is not installed.
  bool exiftoolPhoto(const std::string& name, std::vector<std::string> tags) {
    const std::string exiftool = findProgram("exiftool");
    if (exiftool.empty()) return false;
    jpegWriter().photo().save(dir / name);
    tags.insert(tags.begin(), {"-q", "-overwrite_original"});
    tags.push_back(name);
    toolResult w = runTool(exiftool, tags, {{}, dir.path()});
    const std::string convert = findProgram("convert");
    if (w.status != 0 && !convert.empty()) {  // start from an image tool's JPEG
      EXPECT_EQ(runTool(convert, {"-size", "8x8", "xc:gray", name}, {{}, dir.path()}).status, 0);
      w = runTool(exiftool, tags, {{}, dir.path()});
    }
    EXPECT_EQ(w.status, 0) << w.err;
    return true;
  }
  tempDir dir;
};

// A -j line's members after "file".
std::string dated(long long time, const std::string& taken, const std::string& source,
                  const std::string& zone) {
  return "\"time\": " + std::to_string(time) + ", \"taken\": \"" + taken + "\", \"source\": \"" +
         source + "\", \"zone\": \"" + zone + "\"}\n";
}

// Offsets an independent writer put beside the date: the instant is the
// wall clock taken as UTC less the offset, whatever the process's zone.
TEST_F(ChronelFlags, TheCamerasOffsetThatExiftoolWroteGivesTheInstant) {
  struct zone {
    const char* offset;
    long long instant;  // 2024:07:01 10:00:00 in that offset
    const char* utc;    // the instant's plain line in UTC
  };
  for (const zone& z : {zone{"+09:00", 1719795600, "Mon Jul  1 01:00:00 2024"},
                        zone{"-05:30", 1719847800, "Mon Jul  1 15:30:00 2024"},
                        zone{"+00:00", 1719828000, "Mon Jul  1 10:00:00 2024"}}) {
    SCOPED_TRACE(z.offset);
    const std::string name = std::string("z") + z.offset + ".jpg";
    if (!exiftoolPhoto(name, {"-DateTimeOriginal=2024:07:01 10:00:00",
                              std::string("-OffsetTimeOriginal=") + z.offset}))
      GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";

    const std::string instant = std::to_string(z.instant);
    EXPECT_EQ(run({"-z", "-p", name}, "America/New_York").out,
              "<?php\n  $vx_image_times[\"" + name + "\"] = " + instant + ";\n?>\n");
    EXPECT_EQ(run({"-z", "-j", name}, "Asia/Kolkata").out,
              "{\"file\": \"" + name + "\", " +
                  dated(z.instant, std::string("2024-07-01T10:00:00") + z.offset, "DateTimeOriginal",
                        "OffsetTimeOriginal"));
    EXPECT_EQ(run({"-z", name}, "UTC").out, std::string(z.utc) + " " + name + "\n");
    // Without -z the wall clock is read in the local zone, as always.
    EXPECT_EQ(run({"-p", name}, "UTC").out,
              "<?php\n  $vx_image_times[\"" + name + "\"] = 1719828000;\n?>\n");
  }
}

// No offset, or EXIF's blank "unknown": the local zone, as without -z.
// Anything else is no offset at all: one report line.
TEST_F(ChronelFlags, BlankAbsentAndMalformedOffsets) {
  const std::string blank = "   :  ", empty, good = "+02:00";
  photo("none.jpg", "2004:07:01 12:00:00");
  photo("blank.jpg", "2004:07:01 12:00:00", &blank);
  photo("empty.jpg", "2004:07:01 12:00:00", &empty);
  photo("good.jpg", "2004:07:01 12:00:00", &good);
  const std::vector<std::string> bad = {"+9:00", "+24:00", "+09:60", "Z", "+09:00 ", "09:00", "+0900"};
  std::vector<std::string> args = {"-z", "-j", "none.jpg", "blank.jpg", "empty.jpg", "good.jpg"};
  std::string reports, errors;
  for (size_t i = 0; i < bad.size(); ++i) {
    const std::string name = "bad" + std::to_string(i) + ".jpg";
    photo(name, "2004:07:01 12:00:00", &bad[i]);
    args.push_back(name);
    reports += "chronel: invalid OffsetTimeOriginal tag in " + name + ".\n";
    errors += "{\"file\": \"" + name + "\", \"error\": \"invalid OffsetTimeOriginal tag in " + name + "\"}\n";
  }
  const toolResult r = run(args, "Europe/Berlin");
  const std::string local = dated(1088676000, "2004-07-01T12:00:00+02:00", "DateTimeOriginal", "TZ");
  EXPECT_EQ(r.out, "{\"file\": \"none.jpg\", " + local + "{\"file\": \"blank.jpg\", " + local +
                       "{\"file\": \"empty.jpg\", " + local + "{\"file\": \"good.jpg\", " +
                       dated(1088676000, "2004-07-01T12:00:00+02:00", "DateTimeOriginal",
                             "OffsetTimeOriginal") +
                       errors);
  EXPECT_EQ(r.err, reports);
  // Without -z the offset is never looked at.
  EXPECT_EQ(run({"-q", "bad0.jpg"}, "UTC").err, "");
}

// Every line is one JSON object that a strict parser reads back, with the
// argument exactly as given, whatever bytes its name holds.
TEST_F(ChronelFlags, JsonLinesGiveEveryNameBackExactly) {
  const std::string python = findProgram("python3");
  if (python.empty()) GTEST_SKIP() << "python3 is not installed";
  const std::vector<std::string> names = {
      "plain.jpg", "say \"hi\".jpg", "back\\slash.jpg", "line\nbreak\r.jpg", "ctl\x01\x1b[2J\x7f.jpg",
      "caf\xc3\xa9 \xe2\x82\xac.jpg", "not utf-8 \xff\xc3(\xed\xa0\x80.jpg", "c1 \xc2\x9b.jpg"};
  std::vector<std::string> args = {"-j"};
  std::string expected;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string day = std::to_string(101 + i).substr(1);
    photo(names[i], "2004:01:" + day + " 10:00:00");
    args.push_back(names[i]);
    std::string hex;
    for (unsigned char c : names[i]) {
      hex += "0123456789abcdef"[c >> 4];
      hex += "0123456789abcdef"[c & 15];
    }
    expected += hex + " " + std::to_string(1072951200 + 86400 * i) + " 2004-01-" + day +
                "T10:00:00+00:00\n";
  }
  // A failed file's object holds its name in the text too.
  const std::string failed = "no date \"\xff\".jpg";
  jpegWriter().photo(tiffWriter().ascii(dir::ifd0, 0x010F, "Maker").build()).save(dir / failed);
  args.push_back(failed);
  args.push_back("missing.jpg");
  expected += "6e6f20646174652022ff222e6a7067 NAME does not contain DateTimeOriginal tag\n";
  expected += "6d697373696e672e6a7067 unable to open NAME: No such file or directory\n";
  const toolResult r = run(args, "UTC");
  EXPECT_EQ(r.err, "chronel: " + failed + " does not contain DateTimeOriginal tag.\n" +
                       "chronel: unable to open missing.jpg: No such file or directory.\n");
  writeFile(dir / "lines.json", r.out);
  writeFile(dir / "read.py",
            "import json, os, sys\n"
            "data = open('lines.json', 'rb').read()\n"
            "assert data.endswith(b'\\n')\n"
            "for line in data.split(b'\\n')[:-1]:\n"
            "    o = json.loads(line.decode('utf-8'))\n"
            "    if 'error' in o:\n"
            "        assert list(o) == ['file', 'error'], o\n"
            "        print(os.fsencode(o['file']).hex(), o['error'].replace(o['file'], 'NAME'))\n"
            "        continue\n"
            "    assert list(o) == ['file', 'time', 'taken', 'source', 'zone'], o\n"
            "    print(os.fsencode(o['file']).hex(), o['time'], o['taken'])\n");
  const toolResult p = runTool(python, {"read.py"}, {{"PYTHONUTF8=1"}, dir.path()});
  EXPECT_EQ(p.err, "");
  EXPECT_EQ(p.out, expected);
}

// On a terminal, whose character set may not be UTF-8 (in Latin-1 the
// byte 0x9B is CSI), JSON Lines are ASCII only: the same strings once
// parsed; a pipe gets UTF-8.
TEST_F(ChronelFlags, JsonOnATerminalIsAsciiOnly) {
  const std::string latin1 = dir / "locale";
  if (mkdir(latin1.c_str(), 0755) != 0 ||
      runTool("/bin/sh", {"-c", "localedef -i en_US -f ISO-8859-1 \"$0\"/en_US.ISO-8859-1 2>/dev/null",
                          latin1}).status != 0)
    GTEST_SKIP() << "no Latin-1 locale can be made here (localedef, locales)";
  const std::string name = "caf\xc3\xa9 \xf0\x9f\x93\xb7 \xc2\x9b \x9b.jpg";
  photo(name, "2004:01:05 10:00:00");
  const runOptions terminal{{"TZ=UTC", "LOCPATH=" + latin1, "LC_ALL=en_US.ISO-8859-1"}, dir.path()};
  const std::string tail =
      ", \"time\": 1073296800, \"taken\": \"2004-01-05T10:00:00+00:00\", "
      "\"source\": \"DateTimeOriginal\", \"zone\": \"TZ\"}\n";
  EXPECT_EQ(runToolOnTerminal(CHRONEL, {"-j", name}, terminal).out,
            "{\"file\": \"caf\\u00e9 \\ud83d\\udcf7 \\u009b \\udc9b.jpg\"" + tail);
  EXPECT_EQ(run({"-j", name}, "UTC").out,
            "{\"file\": \"caf\xc3\xa9 \xf0\x9f\x93\xb7 \\u009b \\udc9b.jpg\"" + tail);
}

// With -z, a photograph without an offset tag gets the offset its GPS
// time gives (the wall clock less the GPS time, within 2 minutes of a
// zone's offset, rounded to it); a stale fix and no -z give the local zone;
// an offset tag always wins.
TEST_F(ChronelFlags, TheGpsTimeThatExiftoolWroteGivesTheOffset) {
  struct gpsPhoto {
    const char* name;
    const char* date;
    const char* gpsDate;
    const char* gpsTime;
    long long instant;
    const char* taken;
    const char* zone;
  };
  const gpsPhoto photos[] = {
      {"fix.jpg", "2024:07:01 10:00:30", "2024:07:01", "00:59:45", 1719795630, "2024-07-01T10:00:30+09:00", "GPS"},
      {"nepal.jpg", "2024:07:01 10:00:00", "2024:07:01", "04:16:00", 1719807300, "2024-07-01T10:00:00+05:45", "GPS"},
      {"kiribati.jpg", "2024:07:01 01:00:00", "2024:06:30", "11:00:00", 1719745200, "2024-07-01T01:00:00+14:00", "GPS"},
      {"west.jpg", "2024:06:30 20:00:00", "2024:07:01", "03:01:30", 1719802800, "2024-06-30T20:00:00-07:00", "GPS"},
      {"stale.jpg", "2024:07:01 10:00:30", "2024:07:01", "00:55:00", 1719808230, "2024-07-01T10:00:30+05:30", "TZ"},
  };
  std::vector<std::string> args = {"-j", "-z"};
  std::string expected;
  for (const gpsPhoto& p : photos) {
    if (!exiftoolPhoto(p.name, {std::string("-DateTimeOriginal=") + p.date, std::string("-GPSDateStamp=") + p.gpsDate,
                                std::string("-GPSTimeStamp=") + p.gpsTime}))
      GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
    args.push_back(p.name);
    expected += std::string("{\"file\": \"") + p.name + "\", " + dated(p.instant, p.taken, "DateTimeOriginal", p.zone);
  }
  ASSERT_TRUE(exiftoolPhoto("both.jpg", {"-DateTimeOriginal=2024:07:01 10:00:30", "-OffsetTimeOriginal=+02:00",
                                         "-GPSDateStamp=2024:07:01", "-GPSTimeStamp=00:59:45"}));
  args.push_back("both.jpg");
  expected += "{\"file\": \"both.jpg\", " +
              dated(1719820830, "2024-07-01T10:00:30+02:00", "DateTimeOriginal", "OffsetTimeOriginal");
  const toolResult r = run(args, "Asia/Kolkata");
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(run({"-j", "fix.jpg"}, "Asia/Kolkata").out,
            "{\"file\": \"fix.jpg\", " + dated(1719808230, "2024-07-01T10:00:30+05:30", "DateTimeOriginal", "TZ"));
}

// SubSecTimeOriginal adds its fraction to "taken" and to the modification
// time -m sets; the plain line, and the read-back check on a card's
// 2-second clock, stay with whole seconds.
TEST_F(ChronelFlags, SubSecondsReachTakenAndTheModificationTime) {
  if (!exiftoolPhoto("sub.jpg", {"-DateTimeOriginal=2024:07:01 10:00:31", "-SubSecTimeOriginal=042"}))
    GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  ASSERT_TRUE(exiftoolPhoto("micro.jpg", {"-DateTimeOriginal=2024:07:01 10:00:31", "-SubSecTimeOriginal=1234"}));
  EXPECT_EQ(run({"-j", "sub.jpg", "micro.jpg"}, "UTC").out,
            "{\"file\": \"sub.jpg\", " + dated(1719828031, "2024-07-01T10:00:31.042+00:00", "DateTimeOriginal", "TZ") +
                "{\"file\": \"micro.jpg\", " +
                dated(1719828031, "2024-07-01T10:00:31.123400+00:00", "DateTimeOriginal", "TZ"));
  const toolResult m = run({"-m", "sub.jpg"}, "UTC");
  EXPECT_EQ(m.out, "Mon Jul  1 10:00:31 2024 sub.jpg\n");
  EXPECT_EQ(m.err, "");
  struct stat st = {};
  ASSERT_EQ(stat((dir / "sub.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1719828031);
  EXPECT_EQ(st.st_mtim.tv_nsec, 42000000);
  runOptions fat = withFaults({"ORVANE_FAULT_FAT=1", "TZ=UTC"});
  fat.cwd = dir.path();
  const toolResult card = runTool(CHRONEL, {"-q", "-m", "micro.jpg"}, fat);
  EXPECT_EQ(card.err, "");
  ASSERT_EQ(stat((dir / "micro.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1719828030);
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
}

// -f: where DateTimeOriginal is missing, CreateDate (DateTimeDigitized),
// then ModifyDate (DateTime), each with its own offset and sub-second tags.
TEST_F(ChronelFlags, FallsBackToCreateDateThenModifyDate) {
  if (!exiftoolPhoto("created.jpg", {"-CreateDate=2024:07:01 10:00:00", "-OffsetTimeDigitized=+03:00",
                                     "-SubSecTimeDigitized=5", "-ModifyDate=2024:07:09 10:00:00"}))
    GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  ASSERT_TRUE(exiftoolPhoto("modified.jpg", {"-ModifyDate=2024:07:02 10:00:00", "-OffsetTime=-04:00"}));
  ASSERT_TRUE(exiftoolPhoto("original.jpg", {"-DateTimeOriginal=2024:07:03 10:00:00", "-CreateDate=2024:07:01 10:00:00"}));
  ASSERT_TRUE(exiftoolPhoto("neither.jpg", {"-Make=Scanner"}));
  const std::vector<std::string> names = {"created.jpg", "modified.jpg", "original.jpg", "neither.jpg"};
  std::vector<std::string> args = {"-j", "-z", "-f"};
  args.insert(args.end(), names.begin(), names.end());
  toolResult r = run(args, "UTC");
  EXPECT_EQ(r.out, "{\"file\": \"created.jpg\", " +
                       dated(1719817200, "2024-07-01T10:00:00.500+03:00", "DateTimeDigitized", "OffsetTimeDigitized") +
                       "{\"file\": \"modified.jpg\", " +
                       dated(1719928800, "2024-07-02T10:00:00-04:00", "DateTime", "OffsetTime") +
                       "{\"file\": \"original.jpg\", " +
                       dated(1720000800, "2024-07-03T10:00:00+00:00", "DateTimeOriginal", "TZ") +
                       "{\"file\": \"neither.jpg\", \"error\": \"neither.jpg does not contain DateTimeOriginal tag\"}\n");
  EXPECT_EQ(r.err, "chronel: neither.jpg does not contain DateTimeOriginal tag.\n");
  r = run({"-f", "created.jpg"}, "UTC");
  EXPECT_EQ(r.out, "Mon Jul  1 10:00:00 2024 created.jpg\n");
  // Without -f nothing changes.
  r = run({"-p", "created.jpg", "modified.jpg", "original.jpg"}, "UTC");
  EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"original.jpg\"] = 1720000800;\n?>\n");
  EXPECT_EQ(r.err, "chronel: created.jpg does not contain DateTimeOriginal tag.\n"
                   "chronel: modified.jpg does not contain DateTimeOriginal tag.\n");
}

// A failed file's object comes before its report line, in the order of
// the files, when both streams go to one place.
TEST_F(ChronelFlags, AFailedFilesObjectStandsBeforeItsReportLine) {
  photo("a.jpg", "2004:01:05 10:00:00");
  photo("bad.jpg", "2004:1:05 10:00:00");
  const toolResult r = runToolMerged(CHRONEL, {"-j", "a.jpg", "bad.jpg", "a.jpg"}, {{"TZ=UTC"}, dir.path()});
  const std::string a =
      "{\"file\": \"a.jpg\", " + dated(1073296800, "2004-01-05T10:00:00+00:00", "DateTimeOriginal", "TZ");
  EXPECT_EQ(r.out, a + "{\"file\": \"bad.jpg\", \"error\": \"invalid DateTimeOriginal tag in bad.jpg\"}\n" +
                       "chronel: invalid DateTimeOriginal tag in bad.jpg.\n" + a);
}

TEST_F(ChronelFlags, TheLastOfPAndJAppliesAndQDoesNotSilenceEither) {
  photo("a.jpg", "2004:01:05 10:00:00");
  const std::string json =
      "{\"file\": \"a.jpg\", " + dated(1073296800, "2004-01-05T10:00:00+00:00", "DateTimeOriginal", "TZ");
  const std::string php = "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n";
  EXPECT_EQ(run({"-p", "-j", "a.jpg"}, "UTC").out, json);
  EXPECT_EQ(run({"-j", "-p", "a.jpg"}, "UTC").out, php);
  EXPECT_EQ(run({"-q", "-j", "a.jpg"}, "UTC").out, json);
  const toolResult r = run({"-j"}, "UTC");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]\n");
}

}  // namespace
