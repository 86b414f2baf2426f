// chronel's opt-in flags: -z reads the capture time in the camera's own UTC
// offset (OffsetTimeOriginal), -j writes JSON Lines.
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
  tempDir dir;
};

// Offsets an independent writer put beside the date: the instant is the
// wall clock taken as UTC less the offset, whatever the process's zone.
TEST_F(ChronelFlags, TheCamerasOffsetThatExiftoolWroteGivesTheInstant) {
  const std::string exiftool = findProgram("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  const std::string convert = findProgram("convert");
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
    jpegWriter().photo().save(dir / name);
    const std::vector<std::string> args = {"-q", "-overwrite_original",
                                           "-DateTimeOriginal=2024:07:01 10:00:00",
                                           std::string("-OffsetTimeOriginal=") + z.offset, name};
    toolResult w = runTool(exiftool, args, {{}, dir.path()});
    if (w.status != 0 && !convert.empty()) {  // start from an image tool's JPEG
      ASSERT_EQ(runTool(convert, {"-size", "8x8", "xc:gray", name}, {{}, dir.path()}).status, 0);
      w = runTool(exiftool, args, {{}, dir.path()});
    }
    ASSERT_EQ(w.status, 0) << w.err;

    const std::string instant = std::to_string(z.instant);
    EXPECT_EQ(run({"-z", "-p", name}, "America/New_York").out,
              "<?php\n  $vx_image_times[\"" + name + "\"] = " + instant + ";\n?>\n");
    EXPECT_EQ(run({"-z", "-j", name}, "Asia/Kolkata").out,
              "{\"file\": \"" + name + "\", \"time\": " + instant +
                  ", \"taken\": \"2024-07-01T10:00:00" + z.offset + "\"}\n");
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
  std::string reports;
  for (size_t i = 0; i < bad.size(); ++i) {
    const std::string name = "bad" + std::to_string(i) + ".jpg";
    photo(name, "2004:07:01 12:00:00", &bad[i]);
    args.push_back(name);
    reports += "chronel: invalid OffsetTimeOriginal tag in " + name + ".\n";
  }
  const toolResult r = run(args, "Europe/Berlin");
  const std::string local = "\"time\": 1088676000, \"taken\": \"2004-07-01T12:00:00+02:00\"}\n";
  EXPECT_EQ(r.out, "{\"file\": \"none.jpg\", " + local + "{\"file\": \"blank.jpg\", " + local +
                       "{\"file\": \"empty.jpg\", " + local + "{\"file\": \"good.jpg\", " + local);
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
  args.push_back("missing.jpg");
  const toolResult r = run(args, "UTC");
  EXPECT_EQ(r.err, "chronel: unable to open missing.jpg: No such file or directory.\n");
  writeFile(dir / "lines.json", r.out);
  writeFile(dir / "read.py",
            "import json, os, sys\n"
            "data = open('lines.json', 'rb').read()\n"
            "assert data.endswith(b'\\n')\n"
            "for line in data.split(b'\\n')[:-1]:\n"
            "    o = json.loads(line.decode('utf-8'))\n"
            "    assert list(o) == ['file', 'time', 'taken'], o\n"
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
  const std::string tail = ", \"time\": 1073296800, \"taken\": \"2004-01-05T10:00:00+00:00\"}\n";
  EXPECT_EQ(runToolOnTerminal(CHRONEL, {"-j", name}, terminal).out,
            "{\"file\": \"caf\\u00e9 \\ud83d\\udcf7 \\u009b \\udc9b.jpg\"" + tail);
  EXPECT_EQ(run({"-j", name}, "UTC").out,
            "{\"file\": \"caf\xc3\xa9 \xf0\x9f\x93\xb7 \\u009b \\udc9b.jpg\"" + tail);
}

TEST_F(ChronelFlags, TheLastOfPAndJAppliesAndQDoesNotSilenceEither) {
  photo("a.jpg", "2004:01:05 10:00:00");
  const std::string json = "{\"file\": \"a.jpg\", \"time\": 1073296800, \"taken\": \"2004-01-05T10:00:00+00:00\"}\n";
  const std::string php = "<?php\n  $vx_image_times[\"a.jpg\"] = 1073296800;\n?>\n";
  EXPECT_EQ(run({"-p", "-j", "a.jpg"}, "UTC").out, json);
  EXPECT_EQ(run({"-j", "-p", "a.jpg"}, "UTC").out, php);
  EXPECT_EQ(run({"-q", "-j", "a.jpg"}, "UTC").out, json);
  const toolResult r = run({"-j"}, "UTC");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]\n");
}

}  // namespace
