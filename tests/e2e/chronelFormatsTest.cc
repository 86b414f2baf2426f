// chronel on the containers it reads besides JPEG, in files that other
// programs wrote: heif-enc (HEIC), avifenc (AVIF), cwebp (WebP) and
// ImageMagick (PNG, TIFF) make the images, exiftool writes DateTimeOriginal
// and OffsetTimeOriginal into them; ffmpeg writes movies with a creation
// time.  CR3, RAF, MRW and CRW files, which no Debian program writes, come
// from the test writer.  chronel's times (TZ=UTC, -p) must be exiftool's
// reading of the same files.  Each test skips, saying why, when a program
// it needs is missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cameraFileWriter.h"
#include "containerWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

class ChronelFormats : public ::testing::Test {
 protected:
  void SetUp() override {
    exiftool = findProgram("exiftool");
    convert = findProgram("convert");
    if (exiftool.empty()) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
    if (convert.empty()) GTEST_SKIP() << "convert (imagemagick) is not installed";
    ASSERT_EQ(runTool(convert, {"-size", "64x48", "gradient:red-blue", "base.png"}, {{}, dir.path()}).status, 0);
  }

  // Runs a program in the folder; fails the test when it fails.
  void make(const std::string& program, const std::vector<std::string>& args) {
    const toolResult r = runTool(program, args, {{}, dir.path()});
    ASSERT_EQ(r.status, 0) << program << ": " << r.err;
  }

  // exiftool writes the capture time and its zone into the file.
  void date(const std::string& name, const std::string& when, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-q", "-overwrite_original", "-DateTimeOriginal=" + when,
                                     "-OffsetTimeOriginal=+02:00"};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(name);
    make(exiftool, args);
  }

  // chronel -p and exiftool read the same seconds from each file (from
  // the tag named, exiftool's name for where chronel reads the time).
  void expectExiftoolsTimes(const std::vector<std::string>& names, const std::string& tag = "DateTimeOriginal") {
    std::vector<std::string> args = {"-p"};
    args.insert(args.end(), names.begin(), names.end());
    const toolResult r = runTool(CHRONEL, args, {{"TZ=UTC"}, dir.path()});
    std::string expected = "<?php\n";
    for (const std::string& name : names) {
      const toolResult e = runTool(exiftool, {"-s3", "-d", "%s", "-" + tag, name}, {{"TZ=UTC"}, dir.path()});
      ASSERT_NE(e.out, "") << "exiftool reads no " << tag << " from " << name;
      expected += "  $vx_image_times[\"" + name + "\"] = " + e.out.substr(0, e.out.find('\n')) + ";\n";
    }
    EXPECT_EQ(r.out, expected + "?>\n");
    EXPECT_EQ(r.err, "");
  }

  // The type of the chunk that follows the IDAT chunks of a PNG file.
  std::string chunkAfterImageData(const std::string& name) {
    const std::string png = readFile(dir / name);
    bool inImage = false;
    for (size_t at = 8; at + 8 <= png.size();) {
      uint32_t length = 0;
      for (int i = 0; i < 4; ++i) length = length << 8 | static_cast<unsigned char>(png[at + i]);
      const std::string type = png.substr(at + 4, 4);
      if (inImage && type != "IDAT") return type;
      inImage = type == "IDAT";
      at += 12 + length;
    }
    return "";
  }

  tempDir dir;
  std::string exiftool, convert;
};

TEST_F(ChronelFormats, HeicFromHeifEnc) {
  const std::string heifEnc = findProgram("heif-enc");
  if (heifEnc.empty()) GTEST_SKIP() << "heif-enc (libheif-examples) is not installed";
  make(heifEnc, {"-o", "a.heic", "base.png"});
  date("a.heic", "2021:06:15 08:30:45");
  expectExiftoolsTimes({"a.heic"});
}

TEST_F(ChronelFormats, AvifFromAvifenc) {
  const std::string avifenc = findProgram("avifenc");
  if (avifenc.empty()) GTEST_SKIP() << "avifenc (libavif-bin) is not installed";
  make(avifenc, {"base.png", "a.avif"});
  date("a.avif", "1999:12:31 23:59:59");
  expectExiftoolsTimes({"a.avif"});
}

TEST_F(ChronelFormats, WebpFromCwebp) {
  const std::string cwebp = findProgram("cwebp");
  if (cwebp.empty()) GTEST_SKIP() << "cwebp (webp) is not installed";
  make(cwebp, {"-quiet", "base.png", "-o", "a.webp"});
  date("a.webp", "2038:01:19 03:14:08");
  expectExiftoolsTimes({"a.webp"});
}

// exiftool writes eXIf before the image data; ImageMagick, converting a
// JPEG that carries EXIF, after it.
TEST_F(ChronelFormats, PngWithEXifBeforeAndAfterTheImageData) {
  make(convert, {"base.png", "before.png"});
  date("before.png", "2010:03:04 05:06:07");
  make(convert, {"base.png", "base.jpg"});
  date("base.jpg", "1970:01:01 00:00:01");
  make(convert, {"base.jpg", "after.png"});
  ASSERT_NE(chunkAfterImageData("before.png"), "eXIf");
  ASSERT_EQ(chunkAfterImageData("after.png"), "eXIf") << "ImageMagick put eXIf elsewhere";
  expectExiftoolsTimes({"before.png", "after.png"});
}

TEST_F(ChronelFormats, TiffInBothByteOrders) {
  make(convert, {"base.png", "-define", "tiff:endian=lsb", "le.tif"});
  make(convert, {"base.png", "-define", "tiff:endian=msb", "be.tif"});
  date("le.tif", "2004:02:29 12:00:00");
  date("be.tif", "1969:07:20 20:17:40");
  ASSERT_EQ(readFile(dir / "le.tif").substr(0, 4), std::string("II*\0", 4));
  ASSERT_EQ(readFile(dir / "be.tif").substr(0, 4), std::string("MM\0*", 4));
  expectExiftoolsTimes({"le.tif", "be.tif"});
}

// ffmpeg writes the movie header last, or first with +faststart; the
// creation time is the movie header's (exiftool's CreateDate).
TEST_F(ChronelFormats, MoviesFromFfmpegWithTheMovieHeaderFirstOrLast) {
  const std::string ffmpeg = findProgram("ffmpeg");
  if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  std::vector<std::string> names;
  for (const std::string kind : {"mp4", "mov", "3gp"})
    for (const bool fastStart : {false, true}) {
      const std::string name = (fastStart ? "first." : "last.") + kind;
      std::vector<std::string> args = {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=128x96:rate=5",
                                       "-t", "1", "-c:v", "mpeg4", "-metadata",
                                       "creation_time=2021-06-15T08:30:4" + std::to_string(names.size()) + "Z"};
      if (fastStart) args.insert(args.end(), {"-movflags", "+faststart"});
      args.push_back(name);
      make(ffmpeg, args);
      names.push_back(name);
    }
  expectExiftoolsTimes(names, "CreateDate");
}

// exiftool writes an iPhone's Keys date with its offset into a MOV: its
// wall clock is read in the local zone, or with -z at its own offset; the
// movie header's time (ffmpeg's) is not looked at.
TEST_F(ChronelFormats, KeysCreationDateFromExiftool) {
  const std::string ffmpeg = findProgram("ffmpeg");
  if (ffmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  make(ffmpeg, {"-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=128x96:rate=5", "-t", "1", "-c:v",
                "mpeg4", "-metadata", "creation_time=2021-06-15T08:30:45Z", "a.mov"});
  make(exiftool, {"-q", "-overwrite_original", "-Keys:CreationDate=2019:02:12 15:27:12+08:00", "a.mov"});
  const toolResult plain = runTool(CHRONEL, {"a.mov"}, {{"TZ=UTC"}, dir.path()});
  EXPECT_EQ(plain.out, "Tue Feb 12 15:27:12 2019 a.mov\n");
  const toolResult camera = runTool(CHRONEL, {"-z", "-p", "a.mov"}, {{"TZ=UTC"}, dir.path()});
  const toolResult e = runTool(exiftool, {"-s3", "-d", "%s", "-Keys:CreationDate", "a.mov"}, {{"TZ=UTC"}, dir.path()});
  EXPECT_EQ(camera.out, "<?php\n  $vx_image_times[\"a.mov\"] = " + e.out.substr(0, e.out.find('\n')) + ";\n?>\n");
  EXPECT_EQ(plain.err + camera.err, "");
}

// The raw formats, made from their layouts, against exiftool's reading.
TEST_F(ChronelFormats, CanonFujifilmAndMinoltaRawFiles) {
  saveBytes(dir / "a.cr3", cr3File(tiffWriter().ascii(dir::ifd0, 0x010F, "Canon").build(),
                                   cmt2("2021:06:15 08:30:45", "+02:00")));
  saveBytes(dir / "b.cr3", cr3File(tiffWriter(true).build(), cmt2("2018:03:04 05:06:07", "", true)));
  saveBytes(dir / "a.raf", rafFile(jpegWriter().photo(tiffWriter(true).dateTimeOriginal("2020:01:02 03:04:05").build()).data()));
  saveBytes(dir / "a.mrw", mrwFile(tiffWriter(true).dateTimeOriginal("2001:09:08 07:06:05").build()));
  crwLayout crw;
  crw.time = 1073296800;
  saveBytes(dir / "a.crw", crwFile(crw));
  crw.bigEndian = true;
  crw.time = 946684799;
  saveBytes(dir / "b.crw", crwFile(crw));
  expectExiftoolsTimes({"a.cr3", "b.cr3", "a.raf", "a.mrw", "a.crw", "b.crw"});
}

// A library of many kinds at once: a line for each photograph, in the
// order given, and today's report lines for what is none of them.
TEST_F(ChronelFormats, AMixedLibraryGetsOneLineAFile) {
  make(convert, {"base.png", "photo.jpg"});
  date("photo.jpg", "2004:01:05 10:00:00");
  make(convert, {"base.png", "scan.tif"});
  date("scan.tif", "2004:01:05 10:00:01");
  make(convert, {"base.png", "shot.png"});  // no EXIF
  writeFile(dir / "notes.txt", "not a photograph\n");
  const toolResult r = runToolMerged(CHRONEL, {"photo.jpg", "shot.png", "scan.tif", "notes.txt"},
                                     {{"TZ=UTC"}, dir.path()});
  EXPECT_EQ(r.out,
            "Mon Jan  5 10:00:00 2004 photo.jpg\n"
            "chronel: shot.png has no EXIF data.\n"
            "Mon Jan  5 10:00:01 2004 scan.tif\n"
            "chronel: notes.txt has no EXIF data.\n");
}

// TIFF files laid out as some writers lay them out, built entry by entry:
// chronel dates each where exiftool finds DateTimeOriginal, looking in
// IFD0's Exif IFD, IFD0, IFD1 and IFD1's Exif IFD, and taking a directory
// pointer of type SHORT.
class TiffLayouts : public ::testing::Test {
 protected:
  void SetUp() override {
    exiftool = findProgram("exiftool");
    if (exiftool.empty()) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  }

  struct entry {
    uint16_t tag, type;
    uint32_t count;
    bytes value;  // little-endian; up to 4 bytes are stored in the entry
  };
  static bytes le16(uint16_t v) { return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)}; }
  static entry date(const std::string& text) {
    return {0x9003, 2, static_cast<uint32_t>(text.size() + 1), bytes(text.begin(), text.end() + 0)};
  }
  // Little-endian TIFF: the directories one after the other from offset 8;
  // pointer(i) stands for the offset of directory i, next[i] links them.
  static bytes tiff(std::vector<std::vector<entry>> dirs, const std::vector<int>& next) {
    std::vector<uint32_t> at(dirs.size());
    uint32_t pos = 8;
    for (size_t i = 0; i < dirs.size(); ++i) {
      at[i] = pos;
      pos += 2 + 12 * static_cast<uint32_t>(dirs[i].size()) + 4;
      for (entry& e : dirs[i]) {
        if (e.type == 2) e.value.push_back(0);
        if (e.value.size() > 4) pos += static_cast<uint32_t>(e.value.size());
      }
    }
    bytes out = join({{'I', 'I', 42, 0}, le32(8)});
    for (size_t i = 0; i < dirs.size(); ++i) {
      bytes values;
      uint32_t valueAt = at[i] + 2 + 12 * static_cast<uint32_t>(dirs[i].size()) + 4;
      out = join({out, le16(static_cast<uint16_t>(dirs[i].size()))});
      for (const entry& e : dirs[i]) {
        bytes field = e.value;
        if (field.size() > 4) {
          values = join({values, field});
          field = le32(valueAt);
          valueAt += static_cast<uint32_t>(e.value.size());
        }
        field.resize(4, 0);
        out = join({out, le16(e.tag), le16(e.type), le32(e.count), field});
      }
      out = join({out, le32(next[i] < 0 ? 0 : at[next[i]]), values});
    }
    return out;
  }
  static entry exifPointer(uint16_t type, uint32_t to) {
    return {0x8769, type, 1, type == 3 ? le16(static_cast<uint16_t>(to)) : le32(to)};
  }
  static entry width() { return {0x0100, 3, 1, le16(64)}; }

  tempDir dir;
  std::string exiftool;
};

TEST_F(TiffLayouts, DatesWhereExiftoolFindsThem) {
  // Directory offsets: each directory here has one or two entries.
  const uint32_t second1 = 8 + 18, second2 = 8 + 30;
  saveBytes(dir / "ifd1.tif", tiff({{width()}, {date("2011:07:14 18:30:05")}}, {1, -1}));
  saveBytes(dir / "ifd1-exif.tif",
            tiff({{width()}, {exifPointer(4, second1 + 18)}, {date("2012:08:15 19:31:06")}}, {1, -1, -1}));
  saveBytes(dir / "short-pointer.tif",
            tiff({{width(), exifPointer(3, second2)}, {date("2013:09:16 20:32:07")}}, {-1, -1}));
  for (const char* name : {"ifd1.tif", "ifd1-exif.tif", "short-pointer.tif"}) {
    SCOPED_TRACE(name);
    const toolResult e =
        runTool(exiftool, {"-s3", "-d", "%s", "-DateTimeOriginal", name}, {{"TZ=UTC"}, dir.path()});
    ASSERT_NE(e.out, "") << "exiftool reads no DateTimeOriginal";
    const toolResult r = runTool(CHRONEL, {"-p", name}, {{"TZ=UTC"}, dir.path()});
    EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"" + std::string(name) + "\"] = " +
                         e.out.substr(0, e.out.find('\n')) + ";\n?>\n");
    EXPECT_EQ(r.err, "");
  }
}

// Of several, IFD0's Exif IFD holds the capture time, then IFD0, then IFD1.
TEST_F(TiffLayouts, TheExifIfdOfIfd0ComesFirst) {
  const uint32_t second = 8 + 2 + 24 + 4 + 20;
  saveBytes(dir / "three.tif", tiff({{exifPointer(4, second), date("2001:01:01 01:01:01")},
                                     {date("2002:02:02 02:02:02")},
                                     {date("2003:03:03 03:03:03")}},
                                    {2, -1, -1}));
  const toolResult r = runTool(CHRONEL, {"three.tif"}, {{"TZ=UTC"}, dir.path()});
  EXPECT_EQ(r.out, "Sat Feb  2 02:02:02 2002 three.tif\n");
  EXPECT_EQ(r.err, "");
}

// exiftool reads a WebP file past a RIFF length too short for any chunk;
// chronel reports the length as damage instead of saying there is no EXIF
// data.
TEST_F(TiffLayouts, AWebpRiffLengthTooShortForAChunkIsDamage) {
  const bytes block = tiff({{exifPointer(4, 8 + 18)}, {date("2014:10:17 21:33:08")}}, {-1, -1});
  bytes webp = webpWithExif(block);
  for (uint32_t length : {0u, 4u}) {
    const bytes field = le32(length);
    std::copy(field.begin(), field.end(), webp.begin() + 4);
    const std::string name = "riff" + std::to_string(length) + ".webp";
    saveBytes(dir / name, webp);
    const toolResult e = runTool(exiftool, {"-s3", "-DateTimeOriginal", name}, {{}, dir.path()});
    EXPECT_EQ(e.out, "2014:10:17 21:33:08\n");
    const toolResult r = runTool(CHRONEL, {name}, {{"TZ=UTC"}, dir.path()});
    EXPECT_EQ(r.err, "chronel: " + name + " has a damaged WebP file: the RIFF container at offset 0 declares a length of " +
                         std::to_string(length) + ", too short for a chunk.\n");
  }
}

}  // namespace
