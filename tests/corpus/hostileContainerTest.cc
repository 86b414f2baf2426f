// chronel against damaged and hostile containers of every kind it reads
// besides JPEG, made with the test writer: each gets one report line that
// says what is wrong and where, and the next file is still read.  The
// bombs (a million iloc entries, boxes or chunks) are read under an
// address-space limit where one can apply.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "cameraFileWriter.h"
#include "containerWriter.h"
#include "jpegWriter.h"
#include "runTool.h"
#include "sanitizers.h"

using namespace testjpeg;

namespace {

bytes dateBlock() { return tiffWriter().dateTimeOriginal("2021:06:15 08:30:45").build(); }

bytes cut(bytes b, size_t n) {
  b.resize(n);
  return b;
}

// ftyp (24 bytes), then a meta box (at 24; its children from 36).
bytes heifWith(const bytes& metaChildren, const bytes& after = {}) {
  return join({ftypHeic(), isoFullBox("meta", 0, metaChildren), after});
}

bytes iinfExif() { return isoFullBox("iinf", 0, join({be16(1), infe(2, 2, "Exif")})); }

// An iloc entry of version 1 with 4-byte offsets and lengths.
bytes ilocEntry(uint16_t id, uint16_t method, uint16_t reference,
                const std::vector<std::pair<uint32_t, uint32_t>>& extents) {
  bytes e = join({be16(id), be16(method), be16(reference), be16(uint16_t(extents.size()))});
  for (const auto& [offset, length] : extents) e = join({e, be32(offset), be32(length)});
  return e;
}

bytes iloc(const bytes& entries, uint16_t count = 1, uint8_t version = 1, uint8_t sizes = 0x44) {
  return isoFullBox("iloc", version, join({{sizes, 0}, be16(count), entries}));
}

struct hostile {
  std::string name;
  bytes content;
  std::string report;  // what follows "chronel: NAME"
};

// A movie of ftyp (20 bytes) and a moov box (at 20, its children from 28)
// holding mvhd (108 bytes) and then these boxes.
bytes movieWith(const bytes& moovChildren, uint64_t created = 0) {
  return join({isoBox("ftyp", join({toBytes("qt  "), be32(0x200), toBytes("qt  ")})),
               isoBox("moov", join({movieHeader(0, created), moovChildren}))});
}

// A keys and ilst pair in a QuickTime meta box; the meta box at 136, its
// hdlr at 144 (33 bytes), keys at 177.
bytes keysAndValue(const bytes& keysPayload, uint32_t index, const std::string& value) {
  const bytes hdlr = isoFullBox("hdlr", 0, join({be32(0), toBytes("mdta"), bytes(12, 0), {0}}));
  const bytes data = isoBox("data", join({be32(1), be32(0), toBytes(value)}));
  return isoBox("meta", join({hdlr, isoFullBox("keys", 0, keysPayload),
                              isoBox("ilst", join({be32(uint32_t(8 + data.size())), be32(index), data}))}));
}

bytes oneKey(uint32_t count = 1) {
  const std::string key = "com.apple.quicktime.creationdate";
  return join({be32(count), be32(uint32_t(8 + key.size())), toBytes("mdta"), toBytes(key)});
}

std::vector<hostile> damagedCameraFiles() {
  const bytes tiff = tiffWriter().dateTimeOriginal("2021:06:15 08:30:45").build();
  movieLayout last;
  last.moovFirst = false;
  last.largeMdat = true;
  last.created = movieEpochOffset + 1;
  bytes mdatPastEnd = movieFile(last);
  mdatPastEnd[28] = 0x7F;  // mdat's 64-bit size: far past the end
  bytes cmtOutside = cmt2("2021:06:15 08:30:45");
  cmtOutside[4] = 0xF0;  // IFD0 at 240, past CMT2's 52 bytes
  crwLayout noTime;
  noTime.hasTime = false;
  crwLayout zero;
  zero.time = 0;
  bytes selfTable = crwFile(zero);
  selfTable[selfTable.size() - 4] = uint8_t(selfTable.size() - 26 - 4);  // the root table is its own offset field
  bytes rafPast = rafFile(jpegWriter().photo(tiff).data());
  rafPast[84] = 0x7F;
  return {
      {"mdat-past-end.mov", mdatPastEnd, " is truncated: the mdat box at offset 20 runs past the end of the file."},
      {"zero-time.mov", movieWith({}), " does not contain a creation time."},
      {"no-moov.mov", join({isoBox("ftyp", toBytes("qt  ")), isoBox("mdat", bytes(40, 1))}), " has no EXIF data."},
      {"box-past-moov.mov", movieWith(join({be32(1), toBytes("trak"), be64(1000)})),
       " has a damaged movie: the trak box at offset 136 runs past its parent."},
      {"short-mvhd.mov", join({isoBox("ftyp", toBytes("qt  ")), isoBox("moov", isoBox("mvhd", {0, 0, 0, 0, 1}))}),
       " has a damaged movie: the mvhd box at offset 20 is too short for its fields."},
      {"million-keys.mov",
       movieWith(keysAndValue(join({be32(1000000), be32(13), toBytes("mdtaother")}), 1, "2019-02-12T15:27:12+0800")),
       " has a damaged movie: the keys box at offset 177 ends inside its table."},
      {"key-size.mov", movieWith(keysAndValue(join({be32(1), be32(3), toBytes("mdta")}), 1, "x")),
       " has a damaged movie: the key at offset 193 declares a size of 3."},
      {"index-past-keys.mov", movieWith(keysAndValue(oneKey(), 2, "2019-02-12T15:27:12+0800")),
       " does not contain a creation time."},
      {"bad-date.mov", movieWith(keysAndValue(oneKey(), 1, "2019-02-12T15:27:12 +0800"), movieEpochOffset + 1),
       " has an invalid creation date."},
      {"no-cmt2.cr3",
       [&] {
         bytes b = cr3File(tiff, tiff);
         for (size_t i = 0; i + 4 <= b.size(); ++i)
           if (b[i] == 'C' && b[i + 1] == 'M' && b[i + 2] == 'T' && b[i + 3] == '2') b[i + 3] = '9';
         return b;
       }(),
       " has no EXIF data."},
      {"cmt-outside.cr3", cr3File(tiff, cmtOutside),
       " has a damaged EXIF block: IFD0 lies outside the block at offset 178."},
      {"offset-past-end.raf", rafPast, " is truncated: the embedded JPEG at offset 2130706592 runs past the end of the file."},
      {"no-soi.raf", rafFile(bytes(40, 0x20)), " has a damaged RAF file: the embedded JPEG at offset 160 does not begin with SOI."},
      {"cut.mrw", cut(mrwFile(tiff), 60), " is truncated: the MRW header blocks at offset 8 run past the end of the file."},
      {"no-time.crw", crwFile(noTime), " does not contain a creation time."},
      {"zero-time.crw", crwFile(zero), " does not contain a creation time."},
      {"self-table.crw", selfTable, " has a damaged CRW file: the heap at offset 26 has a record table at offset 172 that runs past the heap."},
  };
}

std::vector<hostile> damagedContainers() {
  const bytes exifItem = join({be32(6), toBytes(std::string("Exif\0\0", 6)), dateBlock()});
  // meta's children start at 36; iinf is 35 bytes, so iloc starts at 71, and
  // an iloc of one entry of one extent is 32 bytes, so idat starts at 103.
  std::vector<hostile> h = {
      {"cut.heic", cut(heifFile(dateBlock()), 60),
       " is truncated: the meta box at offset 24 runs past the end of the file."},
      {"small-box.heic", join({ftypHeic(), be32(5), toBytes("free")}),
       " has a damaged HEIF container: the free box at offset 24 declares a size of 5."},
      {"small-large-box.heic", join({ftypHeic(), be32(1), toBytes("free"), be64(8)}),
       " has a damaged HEIF container: the free box at offset 24 declares a size of 8."},
      {"iloc-past-meta.heic", heifWith(join({iinfExif(), be32(1000), toBytes("iloc"), bytes(8, 0)})),
       " has a damaged HEIF container: the iloc box at offset 71 runs past its parent."},
      {"extent-past-end.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 0, 0, {{100, 100000}}))})),
       " is truncated: the Exif item's extent at offset 100 runs past the end of the file."},
      {"extent-wraps.heic",
       heifWith(join({iinfExif(), isoFullBox("iloc", 1, join({{0x44, 0x80}, be16(1), be16(2), be16(0), be16(0),
                                                              be64(~uint64_t(0) - 15), be16(1), be32(32), be32(1)}))})),
       " is truncated: the Exif item's extent 1 begins past the end of the file."},
      {"overlapping-extents.heic",
       heifWith(join({iinfExif(), iloc(ilocEntry(2, 0, 0, std::vector<std::pair<uint32_t, uint32_t>>(1000, {0, 0})))})),
       " has a damaged HEIF container: the Exif item's extents add up to more than the file's 8095 bytes."},
      {"iloc-version.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 0, 0, {{0, 8}}), 1, 3)})),
       " has a damaged HEIF container: the iloc box at offset 71 has version 3."},
      {"iloc-field-size.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 0, 0, {{0, 8}}), 1, 1, 0x24)})),
       " has a damaged HEIF container: the iloc box at offset 71 declares a field size of 2."},
      {"method-2.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 2, 0, {{0, 8}}))})),
       " has a damaged HEIF container: the Exif item (ID 2) has construction method 2, which this "
       "library does not read."},
      {"other-file.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 0, 1, {{0, 8}}))})),
       " has a damaged HEIF container: the Exif item (ID 2) lies in another file (data reference 1)."},
      {"no-idat.heic", heifWith(join({iinfExif(), iloc(ilocEntry(2, 1, 0, {{0, 8}}))})),
       " has a damaged HEIF container: the Exif item (ID 2) lies in an idat box that the meta box lacks."},
      {"extent-past-idat.heic",
       heifWith(join({iinfExif(), iloc(ilocEntry(2, 1, 0, {{0, 400}})), isoBox("idat", exifItem)})),
       " has a damaged HEIF container: the Exif item's extent at offset 111 runs past the end of the "
       "idat box at offset 103."},
      {"not-in-iloc.heic", heifWith(join({iinfExif(), iloc(ilocEntry(1, 0, 0, {{0, 8}}))})),
       " has a damaged HEIF container: the Exif item (ID 2) is not in the iloc box at offset 71."},
      {"no-iloc.heic", heifWith(iinfExif()),
       " has a damaged HEIF container: the Exif item (ID 2) has no iloc box to locate it."},
      {"tiff-offset.heic",
       heifWith(join({iinfExif(), iloc(ilocEntry(2, 1, 0, {{0, 12}})), isoBox("idat", join({be32(1000), bytes(8, 0)}))})),
       " has a damaged HEIF container: the Exif item (ID 2) at offset 111 puts its TIFF header past its 12 "
       "bytes."},
      {"short-iloc.heic", heifWith(join({iinfExif(), isoFullBox("iloc", 2, join({{0x44, 0}, be32(1000000), be32(7)}))})),
       " has a damaged HEIF container: the iloc box at offset 71 ends inside its table."},
      {"short-infe.heic", heifWith(isoFullBox("iinf", 0, join({be16(1), isoFullBox("infe", 2, {0, 2})}))),
       " has a damaged HEIF container: the infe box at offset 50 is too short for its fields."},
      {"no-exif-item.heic", heifWith(isoFullBox("iinf", 0, join({be16(1), infe(2, 1, "hvc1")}))),
       " has no EXIF data."},

      {"cut.png", cut(pngFile(dateBlock()), 60),
       " is truncated: PNG chunk eXIf at offset 33 runs past the end of the file."},
      {"length.png", join({pngSignature(), pngChunk("IHDR", bytes(13, 1)), be32(0x80000000), toBytes("tEXt")}),
       " has a damaged PNG file: PNG chunk tEXt at offset 33 declares 2147483648 bytes of data."},
      {"type.png", join({pngSignature(), pngChunk("IH1R", bytes(13, 1))}),
       " has a damaged PNG file: the chunk at offset 8 has no valid type (IH1R)."},
      {"no-iend.png", join({pngSignature(), pngChunk("IHDR", bytes(13, 1))}),
       " is truncated: the PNG file ends at offset 33 before its IEND chunk."},

      {"cut.webp", cut(webpWithExif(dateBlock()), 70),
       " is truncated: WebP chunk EXIF at offset 60 runs past the end of the file."},
      {"past-riff.webp",
       [] {
         bytes b = webpWithExif(dateBlock());
         b[4] = 60;  // the container ends inside the EXIF chunk
         b[5] = b[6] = b[7] = 0;
         return b;
       }(),
       " has a damaged WebP file: WebP chunk EXIF at offset 60 runs past the end of its RIFF container."},
      {"long-riff.webp",
       [] {
         bytes b = webpFile({riffChunk("VP8X", bytes(10, 8))});
         b[6] = 1;  // 64 KB more than the file holds
         return b;
       }(),
       " is truncated: the RIFF container at offset 0 runs past the end of the file."},

      {"ifd0-outside.tif", {'I', 'I', 42, 0, 0xE8, 3, 0, 0},
       " has a damaged EXIF block: IFD0 lies outside the block at offset 4."},
  };
  for (const hostile& m : damagedCameraFiles()) h.push_back(m);
  return h;
}

// A million of the smallest steps each walk can take.
std::vector<hostile> bombs() {
  const uint32_t million = 1000000;
  auto append = [](bytes& to, const bytes& b) { to.insert(to.end(), b.begin(), b.end()); };
  bytes items, boxes = ftypHeic(), chunks = join({pngSignature(), pngChunk("IHDR", bytes(13, 1))}),
               riff = riffChunk("VP8X", bytes(10, 8));
  const bytes box = isoBox("free", {}), chunk = pngChunk("tEXt", {}), junk = riffChunk("JUNK", {});
  for (uint32_t i = 0; i < million; ++i) {
    append(items, join({be32(10 + i), be16(0), be16(0), be16(0)}));
    append(boxes, box);
    append(chunks, chunk);
    append(riff, junk);
  }
  return {
      {"million-items.heic",
       heifWith(join({iinfExif(), isoFullBox("iloc", 2, join({{0x44, 0}, be32(million), items}))})),
       " has a damaged HEIF container: the Exif item (ID 2) is not in the iloc box at offset 71."},
      {"million-boxes.heic", boxes, " has no EXIF data."},
      {"million-chunks.png", join({chunks, pngChunk("IEND", {})}), " has no EXIF data."},
      {"million-chunks.webp", join({toBytes("RIFF"), le32(uint32_t(riff.size() + 4)), toBytes("WEBP"), riff}),
       " has no EXIF data."},
  };
}

}  // namespace

TEST(HostileContainers, EachGetsOneReportLineThatSaysWhereItIsDamaged) {
  tempDir dir;
  std::vector<std::string> names;
  std::string expected;
  for (const hostile& h : damagedContainers()) {
    saveBytes(dir / h.name, h.content);
    names.push_back(h.name);
    expected += "chronel: " + h.name + h.report + "\n";
  }
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build()).save(dir / "good.jpg");
  names.push_back("good.jpg");
  expected += "Mon Jan  5 10:00:00 2004 good.jpg\n";
  const toolResult r = runToolMerged(CHRONEL, names, {{"TZ=UTC"}, dir.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
}

// A TIFF file is its own EXIF block, and a sparse one declares a gigabyte
// for free: its IFD0 text of 1 GiB is passed over like any value past what
// a block may cost, not copied, and the capture time is read.
TEST(HostileContainers, AGigabyteTextInASparseTiffFileIsNotCopied) {
#ifdef ORVANE_TEST_ASAN
  GTEST_SKIP() << "no address-space limit under the sanitizer";
#endif
  if (underEmulation()) GTEST_SKIP() << "ulimit -v bounds qemu, not the program";
  auto le16 = [](uint16_t v) { return bytes{uint8_t(v), uint8_t(v >> 8)}; };
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    return join({le16(tag), le16(type), le32(count), le32(value)});
  };
  // IFD0 at 8: ImageDescription (1 GiB at 4096), the Exif IFD at 64; its
  // DateTimeOriginal at 96.
  bytes b = join({toBytes("II"), le16(42), le32(8), le16(2), entry(0x010E, 2, 1u << 30, 4096),
                  entry(0x8769, 4, 1, 64), le32(0)});
  b.resize(64);
  b = join({b, le16(1), entry(0x9003, 2, 20, 96), le32(0)});
  b.resize(96);
  b = join({b, toBytes(std::string("2021:06:15 08:30:45\0", 20))});
  tempDir dir;
  saveBytes(dir / "sparse.tif", b);
  ASSERT_EQ(truncate((dir / "sparse.tif").c_str(), 3LL << 29), 0);
  const toolResult r =
      runToolMerged(CHRONEL, {"sparse.tif"}, {{"TZ=UTC"}, dir.path()}, "ulimit -v 500000 || exit 99; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Tue Jun 15 08:30:45 2021 sparse.tif\n");
}

// An Exif item in two extents of 512 MiB each in a sparse file: extents
// apart are joined in a copy, and one of a gigabyte is refused, not tried.
TEST(HostileContainers, AGigabyteExifItemInTwoExtentsIsNotJoined) {
#ifdef ORVANE_TEST_ASAN
  GTEST_SKIP() << "no address-space limit under the sanitizer";
#endif
  if (underEmulation()) GTEST_SKIP() << "ulimit -v bounds qemu, not the program";
  const uint32_t half = 1u << 29;
  tempDir dir;
  const bytes extents = iloc(ilocEntry(2, 0, 0, {{4096, half}, {4097 + half, half}}));
  saveBytes(dir / "sparse.heic", heifWith(join({iinfExif(), extents})));
  ASSERT_EQ(truncate((dir / "sparse.heic").c_str(), 3LL << 29), 0);
  const toolResult r =
      runToolMerged(CHRONEL, {"sparse.heic"}, {{"TZ=UTC"}, dir.path()}, "ulimit -v 500000 || exit 99; ");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "chronel: sparse.heic has a damaged HEIF container: the Exif item's extents add up to "
                   "more than 16777216 bytes.\n");
}

// Each bomb's walk is as long as the file; memory does not grow with its
// steps.  (Under AddressSanitizer or qemu-user no address-space limit can
// apply: the reports are still checked.)
TEST(HostileContainers, WalksOfAMillionStepsTakeOneReportLineInBoundedMemory) {
  tempDir dir;
  std::vector<std::string> names;
  std::string expected;
  for (const hostile& h : bombs()) {
    saveBytes(dir / h.name, h.content);
    names.push_back(h.name);
    expected += "chronel: " + h.name + h.report + "\n";
  }
  std::string limit;
#ifndef ORVANE_TEST_ASAN
  if (!underEmulation()) limit = "ulimit -v 200000 || exit 99; ";
#endif
  const toolResult r = runToolMerged(CHRONEL, names, {{"TZ=UTC"}, dir.path()}, limit);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
}
