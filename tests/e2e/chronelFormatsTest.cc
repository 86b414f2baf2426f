// chronel on the containers it reads besides JPEG, in files that other
// programs wrote: heif-enc (HEIC), avifenc (AVIF), cwebp (WebP) and
// ImageMagick (PNG, TIFF) make the images, exiftool writes DateTimeOriginal
// and OffsetTimeOriginal into them.  chronel's times (TZ=UTC, -p) must be
// exiftool's reading of the same files.  Each test skips, saying why, when
// a program it needs is missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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

  // chronel -p and exiftool read the same seconds from each file.
  void expectExiftoolsTimes(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"-p"};
    args.insert(args.end(), names.begin(), names.end());
    const toolResult r = runTool(CHRONEL, args, {{"TZ=UTC"}, dir.path()});
    std::string expected = "<?php\n";
    for (const std::string& name : names) {
      const toolResult e = runTool(exiftool, {"-s3", "-d", "%s", "-DateTimeOriginal", name},
                                   {{"TZ=UTC"}, dir.path()});
      ASSERT_NE(e.out, "") << "exiftool reads no DateTimeOriginal from " << name;
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

}  // namespace
