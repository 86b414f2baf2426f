// Real camera files: the photographs that Debian ships as test data (the
// EXIF samples of golang-github-rwcarlsen-goexif-dev and the JPEG files of
// libjxl-testdata), read by the tools and by independent programs:
//   - chronel's capture time against exiftool's DateTimeOriginal,
//   - glossel's comments against exiftool's Comment,
//   - segdump's segments up to the first scan against `exiv2 -pS`.
// A difference is accepted only as one of the cases written out below, and
// each of those is checked to be what it claims; anything else fails.  The
// tests skip, saying why, when the packages or the two programs are missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "runTool.h"

using namespace testjpeg;

namespace {

const char* const dataPackages[] = {"golang-github-rwcarlsen-goexif-dev", "libjxl-testdata"};

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------------------
// exiftool -j: an array of flat objects whose values are strings.  Binary
// values come as "base64:...".

std::string decodeBase64(const std::string& s) {
  static const std::string digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, have = 0;
  for (char c : s) {
    const size_t v = digits.find(c);
    if (v == std::string::npos) continue;  // padding
    bits = (bits << 6) | static_cast<unsigned>(v);
    have += 6;
    if (have >= 8) {
      have -= 8;
      out += static_cast<char>((bits >> have) & 0xFF);
    }
  }
  return out;
}

// Reads one JSON string at s[i] (the opening quote), leaving i after it.
std::string jsonString(const std::string& s, size_t& i) {
  std::string out;
  for (++i; i < s.size() && s[i] != '"'; ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    const char e = s[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'u': {
        const unsigned cp = static_cast<unsigned>(std::stoul(s.substr(i + 1, 4), nullptr, 16));
        i += 4;
        if (cp < 0x80) {
          out += static_cast<char>(cp);
        } else if (cp < 0x800) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += static_cast<char>(0xE0 | (cp >> 12));
          out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      default: out += e;  // \" \\ \/
    }
  }
  ++i;
  return out;
}

using record = std::map<std::string, std::string>;

std::map<std::string, record> parseExiftoolJson(const std::string& s) {
  std::map<std::string, record> bySource;
  record current;
  std::string key;
  bool haveKey = false;
  for (size_t i = 0; i < s.size();) {
    const char c = s[i];
    if (c == '"') {
      std::string text = jsonString(s, i);
      if (!haveKey) {
        key = text;
        haveKey = true;
      } else {
        current[key] = text.rfind("base64:", 0) == 0 ? decodeBase64(text.substr(7)) : text;
        haveKey = false;
      }
      continue;
    }
    if (c == '}') {
      bySource[current["SourceFile"]] = current;
      current.clear();
    } else if (c == ',' || c == '{') {
      haveKey = false;
    } else if (haveKey && c != ':' && !std::isspace(static_cast<unsigned char>(c))) {
      // A number or other bare value: kept as its text.
      size_t end = s.find_first_of(",}", i);
      current[key] = s.substr(i, end - i);
      haveKey = false;
      i = end;
      continue;
    }
    ++i;
  }
  return bySource;
}

// The values of one tag and its duplicates (File:Comment, File:Copy1:Comment,
// ...), in file order.
std::vector<std::string> allOf(const record& r, const std::string& group, const std::string& tag) {
  std::vector<std::string> out;
  auto it = r.find(group + ":" + tag);
  if (it == r.end()) return out;
  out.push_back(it->second);
  for (int copy = 1;; ++copy) {
    it = r.find(group + ":Copy" + std::to_string(copy) + ":" + tag);
    if (it == r.end()) return out;
    out.push_back(it->second);
  }
}

std::string value(const record& r, const std::string& key) {
  auto it = r.find(key);
  return it == r.end() ? "" : it->second;
}

// exiftool gives this warning, and nothing from the file, when a segment
// before the image data runs past the end of the file.
const char* const exiftoolCutShort = "JPEG format error";

// ---------------------------------------------------------------------------
// Segment listings: exiv2 -pS and segdump, each up to the first SOS.

struct segment {
  std::string name;
  size_t offset = 0;
  long length = -1;  // exiv2: the length field, -1 where none is printed
};

struct exivListing {
  std::vector<segment> rows;
  bool failed = false;  // exiv2 stopped with an exception
  std::string err;
};

exivListing exiv2Structure(const std::string& exiv2, const std::string& file) {
  const toolResult r = runTool(exiv2, {"-pS", file});
  exivListing l;
  l.err = r.err;
  l.failed = r.status != 0 || r.err.find("exception") != std::string::npos;
  // "  address | 0xffe1 APP1  |  length | data"; SOI and SOS have no length,
  // and the row of a segment exiv2 cannot read stops after its name.
  static const std::regex row(R"(^ *([0-9]+) \| 0x[0-9a-f]{4} (\S+) *(\| *([0-9]+))?)");
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_search(line, m, row)) continue;
    segment s;
    s.offset = std::stoul(m[1]);
    s.name = m[2];
    if (m[4].matched) s.length = std::stol(m[4]);
    l.rows.push_back(s);
    if (s.name == "SOS") break;
  }
  return l;
}

std::vector<segment> segdumpRows(const std::string& out) {
  static const std::regex row(R"(^  marker type (\S+), len = ([0-9]+), offset = ([0-9]+), addr = 0x[0-9a-f]+$)");
  std::vector<segment> rows;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    rows.push_back({m[1], std::stoul(m[3]), std::stol(m[2])});
    if (rows.back().name == "SOS") break;
  }
  return rows;
}

std::string truncatedLine(const std::string& file, const segment& s) {
  return "chronel: " + file + " is truncated: " + s.name + " at offset " + std::to_string(s.offset) +
         " runs past the end of the file.\n";
}

// ---------------------------------------------------------------------------

// A capture time in the strict form YYYY:MM:DD HH:MM:SS.
bool strictForm(const std::string& t) {
  static const std::regex form("[0-9]{4}:[0-9]{2}:[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_match(t, form);
}

// The plain line's time for a tag text, in UTC (the tests run with TZ=UTC).
std::string ctimeOf(const std::string& t) {
  struct tm tm = {};
  tm.tm_year = std::stoi(t.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(t.substr(5, 2)) - 1;
  tm.tm_mday = std::stoi(t.substr(8, 2));
  tm.tm_hour = std::stoi(t.substr(11, 2));
  tm.tm_min = std::stoi(t.substr(14, 2));
  tm.tm_sec = std::stoi(t.substr(17, 2));
  const time_t when = timegm(&tm);
  struct tm utc;
  char text[64] = "";
  if (!gmtime_r(&when, &utc) || !asctime_r(&utc, text)) return "";
  text[std::strcspn(text, "\n")] = '\0';
  return text;
}

class RealFiles : public ::testing::Test {
 protected:
  struct photo {
    std::string path;
    std::string bytes;
    exivListing structure;
    record exif;       // exiftool on the file
    record exifBlock;  // exiftool on the file's EXIF block alone, when cut short
  };

  static void SetUpTestSuite() {
    exiftool = findProgram("exiftool");
    exiv2 = findProgram("exiv2");
    const std::string dpkgQuery = findProgram("dpkg-query");
    if (exiftool.empty() || exiv2.empty() || dpkgQuery.empty()) {
      skipReason = "needs exiftool (libimage-exiftool-perl), exiv2 and dpkg-query";
      return;
    }
    for (const char* package : dataPackages) {
      const toolResult list = runTool(dpkgQuery, {"-L", package});
      if (list.status != 0) {
        missing += std::string(missing.empty() ? "" : ", ") + package;
        continue;
      }
      std::istringstream lines(list.out);
      std::string line;
      while (std::getline(lines, line))
        if (endsWith(line, ".jpg") || endsWith(line, ".jpeg")) photos.push_back({line, readFile(line), {}, {}, {}});
    }
    if (photos.empty()) {
      skipReason = "no real camera files: install " + std::string(dataPackages[0]) + " and " + dataPackages[1];
      return;
    }

    work = std::make_unique<tempDir>();
    std::vector<std::string> args = {"-j", "-a", "-G1:4", "-q", "-q", "-ExifIFD:DateTimeOriginal",
                                     "-File:ExifByteOrder", "-File:Comment", "-ExifTool:Warning"};
    std::vector<std::string> blocks = args;
    for (size_t i = 0; i < photos.size(); ++i) {
      photo& p = photos[i];
      args.push_back(p.path);
      p.structure = exiv2Structure(exiv2, p.path);
      // The EXIF block of the first APP1 segment exiv2 lists in full.
      for (const segment& s : p.structure.rows) {
        if (s.name != "APP1" || s.length < 8 || s.offset + 2 + s.length > p.bytes.size() ||
            p.bytes.compare(s.offset + 4, 6, std::string("Exif\0\0", 6)) != 0)
          continue;
        const std::string block = *work / (std::to_string(i) + ".exif");
        writeFile(block, p.bytes.substr(s.offset + 10, s.length - 8));
        blocks.push_back(block);
        break;
      }
    }
    const toolResult whole = runTool(exiftool, args, {{}, "", false, 120});
    const toolResult alone = runTool(exiftool, blocks, {{}, "", false, 120});
    const auto wholeBySource = parseExiftoolJson(whole.out);
    const auto aloneBySource = parseExiftoolJson(alone.out);
    for (size_t i = 0; i < photos.size(); ++i) {
      auto it = wholeBySource.find(photos[i].path);
      if (it != wholeBySource.end()) photos[i].exif = it->second;
      it = aloneBySource.find(*work / (std::to_string(i) + ".exif"));
      if (it != aloneBySource.end()) photos[i].exifBlock = it->second;
    }
  }
  static void TearDownTestSuite() {
    photos.clear();
    work.reset();
  }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    if (!missing.empty()) std::cout << "not installed, its files are not read: " << missing << "\n";
  }

  // exiftool read nothing from the file because a segment before the image
  // data runs past its end; exiv2 agrees: it lists that segment without a
  // length and fails.
  static bool cutShort(const photo& p) {
    if (value(p.exif, "ExifTool:Warning") != exiftoolCutShort) return false;
    EXPECT_TRUE(p.structure.failed && !p.structure.rows.empty() && p.structure.rows.back().length < 0)
        << p.path << ": exiftool finds the file cut short, exiv2 does not:\n"
        << p.structure.err;
    return true;
  }

  static toolResult run(const char* tool, const std::string& file) {
    return runTool(tool, {file}, {{"TZ=UTC"}, "", false, 60});
  }

  static std::string exiftool, exiv2, skipReason, missing;
  static std::vector<photo> photos;
  static std::unique_ptr<tempDir> work;
};

std::string RealFiles::exiftool, RealFiles::exiv2, RealFiles::skipReason, RealFiles::missing;
std::vector<RealFiles::photo> RealFiles::photos;
std::unique_ptr<tempDir> RealFiles::work;

TEST_F(RealFiles, CaptureTimesMatchExiftool) {
  std::map<std::string, int> cases;
  for (const photo& p : photos) {
    SCOPED_TRACE(p.path);
    const toolResult r = run(CHRONEL, p.path);
    EXPECT_EQ(r.status, 0);
    // Damaged file: exiftool gives up on the whole file when a later
    // segment is cut short, while chronel needs only the EXIF block, which
    // is whole; exiftool's reading of that block alone is compared.
    const bool damaged = cutShort(p);
    const record& exif = damaged ? p.exifBlock : p.exif;
    const std::string tag = value(exif, "ExifIFD:DateTimeOriginal");
    if (!tag.empty() && strictForm(tag) && tag != "0000:00:00 00:00:00") {
      EXPECT_EQ(r.out, ctimeOf(tag) + " " + p.path + "\n");
      EXPECT_EQ(r.err, "");
      ++cases[damaged ? "time from the EXIF block of a file cut short" : "time"];
    } else if (!tag.empty()) {
      // The strict date form: a text exiftool shows but that is not
      // zero-filled YYYY:MM:DD HH:MM:SS (or is the zero date) gets a report.
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(r.err == "chronel: invalid DateTimeOriginal tag in " + p.path + ".\n" ||
                  r.err == "chronel: " + p.path + " contains invalid zero date.\n" ||
                  r.err.rfind("chronel: unable to ", 0) == 0)
          << "tag '" << tag << "': " << r.err;
      ++cases["not in the strict date form"];
    } else if (!value(exif, "File:ExifByteOrder").empty()) {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "chronel: " + p.path + " does not contain DateTimeOriginal tag.\n");
      ++cases["EXIF without a capture time"];
    } else {
      EXPECT_FALSE(damaged) << "exiftool could not read the EXIF block of a file cut short";
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "chronel: " + p.path + " has no EXIF data.\n");
      ++cases["no EXIF"];
    }
  }
  for (const auto& c : cases) std::cout << c.second << " files: " << c.first << "\n";
  EXPECT_GE(cases["time"], 3);
  EXPECT_GE(cases["EXIF without a capture time"], 3);
  EXPECT_GE(cases["no EXIF"], 3);
}

TEST_F(RealFiles, CommentsMatchExiftool) {
  std::map<std::string, int> cases;
  for (const photo& p : photos) {
    SCOPED_TRACE(p.path);
    const toolResult r = run(GLOSSEL, p.path);
    EXPECT_EQ(r.status, 0);
    std::vector<std::string> comments = allOf(p.exif, "File", "Comment");
    std::string wantErr;
    if (cutShort(p)) {
      // Damaged file: exiftool gives no comment of a file cut short.
      // glossel prints those before the damage, which are the COM segments
      // exiv2 lists (their bytes from the file), then the report line.
      const std::vector<segment>& rows = p.structure.rows;
      for (size_t i = 0; i + 1 < rows.size(); ++i)
        if (rows[i].name == "COM" && rows[i].length >= 2)
          comments.push_back(p.bytes.substr(rows[i].offset + 4, rows[i].length - 2));
      wantErr = truncatedLine(p.path, rows.back());
      ++cases["file cut short"];
    } else {
      // Oracle leniency: exiftool drops the NUL bytes that end a comment
      // (a C string's terminator that the writer stored), glossel prints the
      // bytes as stored.  The file's COM segment must really hold them.
      std::vector<std::string> stored;
      for (const segment& s : p.structure.rows)
        if (s.name == "COM" && s.length >= 2) stored.push_back(p.bytes.substr(s.offset + 4, s.length - 2));
      for (size_t i = 0; i < comments.size() && i < stored.size(); ++i) {
        const std::string& raw = stored[i];
        if (raw.size() > comments[i].size() && raw.compare(0, comments[i].size(), comments[i]) == 0 &&
            raw.find_first_not_of('\0', comments[i].size()) == std::string::npos) {
          comments[i] = raw;
          ++cases["comment ending in NUL bytes, which exiftool drops"];
        }
      }
      ++cases[comments.empty() ? "no comment" : "comments"];
    }
    std::string want = p.path + ":\n";
    for (const std::string& c : comments) want += c + "\n";
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(r.err, wantErr);
  }
  for (const auto& c : cases) std::cout << c.second << " files: " << c.first << "\n";
  EXPECT_GE(cases["comments"], 3);
}

TEST_F(RealFiles, SegmentsUpToTheFirstScanMatchExiv2) {
  std::map<std::string, int> cases;
  for (const photo& p : photos) {
    SCOPED_TRACE(p.path);
    const toolResult r = run(SEGDUMP, p.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("JFIF file " + p.path + ":\n", 0), 0u) << r.out;
    std::vector<segment> want = p.structure.rows;
    ASSERT_FALSE(want.empty()) << "exiv2 lists no segment:\n" << p.structure.err;
    std::string wantErr;
    if (p.structure.failed) {
      // Damaged file: exiv2 prints the segment that runs past the end of the
      // file without a length, then fails; segdump lists the segments before
      // it and its report line names that segment and its offset.
      ASSERT_LT(want.back().length, 0) << "exiv2 failed on a segment it read whole:\n" << p.structure.err;
      wantErr = truncatedLine(p.path, want.back());
      want.pop_back();
      ++cases["file cut short"];
    } else {
      ASSERT_EQ(want.back().name, "SOS");
      ++cases["whole"];
    }
    const std::vector<segment> got = segdumpRows(r.out);
    ASSERT_EQ(got.size(), want.size()) << r.out << r.err;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].name, want[i].name) << "segment " << i;
      EXPECT_EQ(got[i].offset, want[i].offset) << want[i].name;
      // segdump counts the marker's two bytes in the length; exiv2 prints
      // no length for SOI and SOS.
      if (want[i].length >= 0) {
        EXPECT_EQ(got[i].length, want[i].length + 2) << want[i].name;
      } else if (want[i].name == "SOI") {
        EXPECT_EQ(got[i].length, 2) << "SOI";
      }
    }
    EXPECT_EQ(r.err, wantErr);
  }
  for (const auto& c : cases) std::cout << c.second << " files: " << c.first << "\n";
  EXPECT_GE(cases["whole"], 10);
}

}  // namespace
