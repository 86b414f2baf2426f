// The EXIF locator: the block of each container found in every layout that
// the test writer can make, joined blocks mapped back to the file, raw
// formats' TIFF headers, and how little of a large file is read.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cameraFileWriter.h"
#include "containerWriter.h"
#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "fileCaptureTime.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "runTool.h"
#include "util.h"

using namespace testjpeg;

namespace {

const std::string date = "2021:06:15 08:30:45";

bytes dateBlock(bool big = false) { return tiffWriter(big).dateTimeOriginal(date).build(); }

// One file opened and parsed as chronel does it.
struct located {
  explicit located(const std::string& path) : j(path.c_str()), h(j, exifHeader::anyFormat) {}
  // The capture time's text in UTC, as chronel reads it from any file, or
  // the report's texts.
  std::string dateText() {
    try {
      setenv("TZ", "UTC", 1);
      tzset();
      const time_t t = fileCaptureTime(h, captureZone::local).instant;
      char text[32];
      struct tm tm;
      gmtime_r(&t, &tm);
      strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &tm);
      return text;
    } catch (const misc_error& m) {
      return std::string(m.msg1()) + "|" + m.msg2();
    }
  }
  jfif j;
  exifHeader h;
};

class ExifLocator : public ::testing::Test {
 protected:
  std::string save(const std::string& name, const bytes& b) {
    saveBytes(dir / name, b);
    return dir / name;
  }
  tempDir dir;
};

TEST_F(ExifLocator, FindsTheExifItemOfAHeifFileInEveryLayout) {
  struct variant {
    const char* name;
    heifLayout layout;
  };
  std::vector<variant> variants;
  auto add = [&](const char* name, auto change) {
    heifLayout l;
    change(l);
    variants.push_back({name, l});
  };
  add("plain", [](heifLayout&) {});
  add("infe 3, iloc 2", [](heifLayout& l) { l.infeVersion = 3, l.ilocVersion = 2; });
  add("iloc 0", [](heifLayout& l) { l.ilocVersion = 0; });
  add("idat", [](heifLayout& l) { l.inIdat = true; });
  add("idat, 3 extents", [](heifLayout& l) { l.inIdat = true, l.extents = 3; });
  add("4 extents", [](heifLayout& l) { l.extents = 4; });
  add("mdat first, 64-bit size", [](heifLayout& l) { l.mdatFirst = true, l.largeMdat = true; });
  for (const variant& v : variants) {
    SCOPED_TRACE(v.name);
    for (bool big : {false, true}) {
      located f(save("x.heic", heifFile(dateBlock(big), v.layout)));
      EXPECT_EQ(f.h.format(), exifFormat::heif);
      EXPECT_EQ(f.dateText(), date);
    }
  }
  // A last box of size 0 runs to the end of the file.
  located last(save("x.heic", join({heifFile(dateBlock()), be32(0), toBytes("mdat"), bytes(9, 0)})));
  EXPECT_EQ(last.dateText(), date);
}

// Every block position of an item stored in several extents reads the
// file's byte at the position fileOffset gives, and the parser's damage is
// placed there: here IFD0's offset (block position 4) lies in an extent
// stored before the one that holds the byte-order mark.
TEST_F(ExifLocator, AJoinedBlockMapsBackToTheFile) {
  heifLayout l;
  l.extents = 5;  // 18 bytes of item: parts of 3, 4, 3, 4 and 4 bytes
  const bytes tiff = {'I', 'I', 42, 0, 0xE8, 3, 0, 0};  // IFD0 at 1000, outside
  const bytes file = heifFile(tiff, l);
  located f(save("x.heic", file));
  ASSERT_TRUE(f.h.wellFormed());
  const byteReader block = f.h.block();
  ASSERT_EQ(block.size(), tiff.size());
  for (uint64_t pos = 0; pos < block.size(); ++pos) {
    uint8_t b = 0;
    ASSERT_TRUE(block.u8At(pos, b));
    EXPECT_EQ(b, tiff[pos]);
    EXPECT_EQ(file[f.h.fileOffset(pos)], tiff[pos]) << pos;
  }
  EXPECT_LT(f.h.fileOffset(4), f.h.fileOffset(0));
  EXPECT_EQ(f.dateText(), "| has a damaged EXIF block: IFD0 lies outside the block at offset " +
                              std::to_string(f.h.fileOffset(4)));
}

TEST_F(ExifLocator, RawFormatsWithTheirOwnMagicNumberAreReadAsTiff) {
  for (const std::string magic : {"II*", "MM*", "IIRO", "IIRS", "IIU", "MMOR"}) {
    SCOPED_TRACE(magic);
    const bool big = magic[0] == 'M';
    bytes b = dateBlock(big);
    if (magic.size() == 4) {
      b[2] = static_cast<unsigned char>(magic[2]);
      b[3] = static_cast<unsigned char>(magic[3]);
    } else if (magic == "IIU") {
      b[2] = 'U', b[3] = 0;
    }
    located f(save("x.raw", b));
    EXPECT_EQ(f.h.format(), exifFormat::tiff);
    EXPECT_EQ(f.h.blockOffset(), 0u);
    EXPECT_EQ(f.h.block().size(), b.size());
    EXPECT_EQ(f.dateText(), date);
  }
  // A TIFF whose IFD0 names no Exif IFD carries no EXIF data; BigTIFF is
  // not read.
  located plain(save("plain.tif", tiffWriter().ascii(dir::ifd0, 0x010F, "Scanner").build()));
  EXPECT_EQ(plain.dateText(), "| has no EXIF data");
  bytes big = dateBlock();
  big[2] = 0x2B;
  located bigTiff(save("big.tif", big));
  EXPECT_EQ(bigTiff.h.format(), exifFormat::unknown);
  EXPECT_EQ(bigTiff.dateText(), "| has no EXIF data");
}

TEST_F(ExifLocator, PngAndWebpBlocksWithOrWithoutTheApp1Identifier) {
  const bytes withId = join({toBytes(std::string("Exif\0\0", 6)), dateBlock(true)});
  for (const bytes& tiff : {dateBlock(), withId}) {
    located before(save("b.png", pngFile(tiff)));
    EXPECT_EQ(before.dateText(), date);
    located after(save("a.png", pngFile(tiff, true)));
    EXPECT_EQ(after.dateText(), date);
    located webp(save("x.webp", webpWithExif(tiff)));
    EXPECT_EQ(webp.h.format(), exifFormat::webp);
    EXPECT_EQ(webp.dateText(), date);
  }
  // Only the extended layout carries metadata.
  located simple(save("s.webp", webpFile({riffChunk("VP8L", bytes(9, 1)), riffChunk("EXIF", dateBlock())})));
  EXPECT_EQ(simple.dateText(), "| has no EXIF data");
}

// A 2 MB file of each kind, its EXIF block past its first 24 KB where the
// format puts it there, is read no further than the headers on the way and
// the pages of the block's directories.
TEST_F(ExifLocator, ReadsTheHeadersAndTheBlockOnly) {
  const size_t large = 2 << 20;
  heifLayout l;
  l.imageBytes = 25 * 1024;
  const bytes heic = join({heifFile(dateBlock(), l), isoBox("mdat", bytes(large, 0x5A))});
  bytes idats;
  for (int i = 0; i < 32; ++i) idats = join({idats, pngChunk("IDAT", bytes(large / 32, 0x33))});
  const bytes png = join({pngSignature(), pngChunk("IHDR", bytes(13, 1)), pngChunk("eXIf", dateBlock()),
                          idats, pngChunk("IEND", {})});
  const bytes webp = webpFile({riffChunk("VP8X", bytes(10, 8)), riffChunk("VP8 ", bytes(large, 0x11)),
                               riffChunk("EXIF", dateBlock())});
  tiffWriter t;
  t.longs(dir::ifd0, 0x0111, {8}).longs(dir::ifd0, 0x0117, {uint32_t(large)}).dateTimeOriginal(date);
  const bytes tiff = join({t.build(), bytes(large, 0x44)});
  for (const auto& [name, b] : {std::pair{"x.heic", heic}, {"x.png", png}, {"x.webp", webp}, {"x.tif", tiff}}) {
    SCOPED_TRACE(name);
    located f(save(name, b));
    EXPECT_EQ(f.dateText(), date);
    EXPECT_LE(f.j.image().bytesRead(), 16u * 1024);
  }
}

// A movie's media data and its tracks' sample tables are passed by their
// sizes, wherever moov lies; a PNG's image data chunks are not read at all.
TEST_F(ExifLocator, MovieMediaAndPngImageDataAreNotRead) {
  const bytes trak = isoBox("trak", bytes(200 * 1024, 0x74));
  for (const bool moovFirst : {true, false}) {
    SCOPED_TRACE(moovFirst ? "moov first" : "moov last");
    movieLayout l;
    l.moovFirst = moovFirst;
    l.mdatBytes = 8 << 20;
    l.keysDate = "2019-02-12T15:27:12Z";
    bytes movie = movieFile(l);
    // The sample tables of a long movie before the movie header.
    const size_t moovAt = moovFirst ? 20 : movie.size() - (movie.size() - 20 - 8 - l.mdatBytes);
    movie.insert(movie.begin() + long(moovAt + 8), trak.begin(), trak.end());
    const uint32_t moovSize = uint32_t(movie.size() - moovAt - (moovFirst ? 8 + l.mdatBytes : 0));
    for (int i = 0; i < 4; ++i) movie[moovAt + i] = uint8_t(moovSize >> (24 - 8 * i));
    located f(save("x.mov", movie));
    EXPECT_EQ(f.h.format(), exifFormat::movie);
    EXPECT_EQ(f.dateText(), "2019:02:12 15:27:12");
    EXPECT_LE(f.j.image().bytesRead(), 64u * 1024);
  }
  // 82 image data chunks of 8 KB, as libpng writes a 666 KB screenshot.
  bytes idats;
  for (int i = 0; i < 82; ++i) idats = join({idats, pngChunk("IDAT", bytes(i < 81 ? 8192 : 2000, uint8_t(i)))});
  const bytes head = join({pngSignature(), pngChunk("IHDR", bytes(13, 1)), pngChunk("sRGB", {0})});
  located plain(save("plain.png", join({head, idats, pngChunk("tIME", bytes(7, 1)), pngChunk("IEND", {})})));
  EXPECT_EQ(plain.dateText(), "| has no EXIF data");
  EXPECT_LE(plain.j.image().bytesRead(), 16u * 1024);
  located after(save("after.png", join({head, idats, pngChunk("eXIf", dateBlock()), pngChunk("IEND", {})})));
  EXPECT_EQ(after.dateText(), date);
  EXPECT_LE(after.j.image().bytesRead(), 32u * 1024);
}

// The boxes decide what an ISO base media file is, not its brand: an Exif
// item makes an image (an image sequence has a moov box too), else moov
// makes a movie, or a CR3 file when the brand is Canon's.
TEST_F(ExifLocator, TheBoxesDecideWhatAnIsoFileIs) {
  movieLayout l;
  l.created = movieEpochOffset + 1073296800;
  const bytes moov = isoBox("moov", movieHeader(0, l.created));
  located sequence(save("s.heic", join({heifFile(dateBlock()), moov})));
  EXPECT_EQ(sequence.h.format(), exifFormat::heif);
  EXPECT_EQ(sequence.dateText(), date);
  located heicBrand(save("m.heic", join({ftypHeic(), moov})));
  EXPECT_EQ(heicBrand.h.format(), exifFormat::movie);
  EXPECT_EQ(heicBrand.dateText(), "2004:01:05 10:00:00");
  l.brand = "";  // an old QuickTime file
  located old(save("old.mov", movieFile(l)));
  EXPECT_EQ(old.dateText(), "2004:01:05 10:00:00");
  located canon(save("c.cr3", join({isoBox("ftyp", join({toBytes("crx "), be32(1)})), moov})));
  EXPECT_EQ(canon.h.format(), exifFormat::cr3);
  EXPECT_EQ(canon.dateText(), "| has no EXIF data");
}

// Where no chain of chunks from the image data to IEND can be found in the
// last 64 KB (more text than that after the image data, a damaged CRC, no
// IEND at the end), the chunks are walked as before and eXIf is found.
TEST_F(ExifLocator, PngChunksAfterTheImageDataThatCannotBeFoundFromTheEndAreWalked) {
  bytes idats;
  for (int i = 0; i < 20; ++i) idats = join({idats, pngChunk("IDAT", bytes(8192, uint8_t(i)))});
  const bytes head = join({pngSignature(), pngChunk("IHDR", bytes(13, 1)), idats});
  const bytes exif = pngChunk("eXIf", dateBlock());
  bytes badCrc = join({head, exif, pngChunk("tIME", bytes(7, 1)), pngChunk("IEND", {})});
  badCrc[badCrc.size() - 13] ^= 1;  // tIME's CRC
  const std::vector<std::pair<const char*, bytes>> files = {
      {"text.png", join({head, pngChunk("tEXt", bytes(70 * 1024, 'a')), exif, pngChunk("IEND", {})})},
      {"crc.png", badCrc},
      {"tail.png", join({head, exif, pngChunk("IEND", {}), bytes(3, 0)})},
  };
  for (const auto& [name, b] : files) {
    located f(save(name, b));
    EXPECT_EQ(f.dateText(), date) << name;
  }
}

// moov after a media data box of 5 GB (a 64-bit size, in a sparse file).
TEST_F(ExifLocator, AMovieHeaderAfterFiveGigabytesOfMediaData) {
  if (sizeof(size_t) < 8) GTEST_SKIP() << "a 5 GB file is refused by 32-bit builds";
  movieLayout l;
  l.created = movieEpochOffset + 1073296800;
  const bytes moov = isoBox("moov", movieHeader(0, l.created));
  const uint64_t media = 5ULL << 30;
  const bytes head = join({isoBox("ftyp", join({toBytes("mp42"), be32(0), toBytes("mp42")})), be32(1), toBytes("mdat"),
                           be64(media + 16)});
  const std::string path = dir / "big.mp4";
  saveBytes(path, head);
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const bool written = pwrite(fd, moov.data(), moov.size(), off_t(head.size() + media)) == ssize_t(moov.size());
  close(fd);
  if (!written) GTEST_SKIP() << "no 5 GB sparse file here";
  located f(path);
  EXPECT_EQ(f.dateText(), "2004:01:05 10:00:00");
  EXPECT_LE(f.j.image().bytesRead(), 16u * 1024);
}

}  // namespace
