// Writes the seed corpora of the fuzz targets, made with the test writer:
//   makeSeeds DIR   creates DIR/markers, DIR/exif, DIR/exif_time,
//                   DIR/flashpix and one folder for each container format:
//                   heif, tiff, png, webp.
// Seeds are small, valid (or typically damaged) inputs that reach every
// part of the parsers; the fuzzer mutates them from there.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "flashpixWriter.h"
#include "containerWriter.h"
#include "jpegWriter.h"

using namespace testjpeg;

namespace {

void save(const std::string& dir, const std::string& name, const bytes& b) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// An EXIF block with entries of every TIFF type in every directory.
bytes richTiff(bool big) {
  tiffWriter t(big);
  t.ascii(dir::ifd0, 0x010F, "Maker").ascii(dir::ifd0, 0x0110, "Model 1");
  t.shorts(dir::ifd0, 0x0112, {1}).rational(dir::ifd0, 0x011A, 72, 1);
  t.ascii(dir::ifd0, 0x0132, "2004:01:05 10:00:00");
  t.dateTimeOriginal("2004:01:05 10:00:00");
  t.undefined(dir::exif, 0x9000, {'0', '2', '3', '0'});
  t.undefined(dir::exif, 0x927C, bytes(40, 0xA5));
  t.longs(dir::exif, 0xA002, {640}).longs(dir::exif, 0xA003, {480});
  t.add(dir::exif, 0x9201, 10, 1, t.u32(0xFFFFFFF0));  // SRATIONAL, wrong size on purpose
  t.add(dir::exif, 0x9204, 10, 1, bytes(8, 0xFF));     // SRATIONAL
  t.add(dir::exif, 0x920A, 11, 2, bytes(8, 0x40));     // FLOAT
  t.add(dir::exif, 0x9203, 12, 1, bytes(8, 0x3F));     // DOUBLE
  t.add(dir::exif, 0xA300, 6, 3, {0x80, 0x01, 0x7F});  // SBYTE
  t.add(dir::exif, 0x9290, 8, 2, bytes(4, 0xFF));      // SSHORT
  t.add(dir::exif, 0x9291, 9, 1, bytes(4, 0xFF));      // SLONG
  t.add(dir::exif, 0x0100, 1, 6, {1, 2, 3, 4, 5, 6});  // BYTE
  t.add(dir::exif, 0xC000, 13, 1, t.u32(8));           // IFD
  t.ascii(dir::gps, 0x0001, "N").rational(dir::gps, 0x0002, 48, 1);
  t.ascii(dir::interop, 0x0001, "R98").undefined(dir::interop, 0x0002, {'0', '1', '0', '0'});
  t.shorts(dir::ifd1, 0x0103, {6}).longs(dir::ifd1, 0x0201, {0}).longs(dir::ifd1, 0x0202, {0});
  return t.build();
}

bytes dateOnly(bool big, const std::string& text) {
  return tiffWriter(big).dateTimeOriginal(text).build();
}

bytes stuffed(size_t n) {
  bytes b;
  for (size_t i = 0; i < n; ++i) {
    b.push_back(static_cast<unsigned char>(i * 37));
    if (b.back() == 0xFF) b.push_back(0);
  }
  return b;
}

void markerSeeds(const std::string& d) {
  save(d, "photo", jpegWriter().photo().data());
  save(d, "photo-exif-le", jpegWriter().photo(richTiff(false)).data());
  save(d, "photo-exif-be", jpegWriter().photo(richTiff(true)).data());
  // Comments, application segments, restart markers, fill bytes, and a
  // progressive layout with tables and scans after the first scan.
  jpegWriter w;
  w.soi().app0Jfif().com("a comment").com("").app1Exif(dateOnly(false, "2004:01:05 10:00:00"));
  for (int i = 0; i < 7; ++i) w.segment(0xE2, bytes(60, static_cast<unsigned char>(i)));
  w.frameHeaders().segment(0xDD, {0, 4}).sos().raw(stuffed(50));
  for (uint8_t rst = 0xD0; rst <= 0xD7; ++rst) w.marker(rst).raw(stuffed(9));
  w.raw({0xFF, 0xFF}).segment(0xC4, bytes(20, 0)).sos().raw(stuffed(30)).com("after").raw({0xFF, 0xFF, 0xFF});
  w.eoi();
  save(d, "progressive", w.data());
  // An EXIF file without SOI, and typical damage.
  save(d, "exif-only", jpegWriter().app1Exif(dateOnly(true, "2011:07:14 18:30:05")).eoi().data());
  jpegWriter cut;
  cut.soi().app0Jfif().segmentWithLength(0xE1, 65535, {1, 2, 3});
  save(d, "cut", cut.data());
  jpegWriter noEoi;
  noEoi.soi().frameHeaders().sos().raw(stuffed(40));
  save(d, "no-eoi", noEoi.data());
  jpegWriter tem;
  tem.soi().marker(0x01).segmentWithLength(0xFE, 1, {}).eoi();
  save(d, "short-length", tem.data());
}

void exifSeeds(const std::string& d) {
  save(d, "rich-le", richTiff(false));
  save(d, "rich-be", richTiff(true));
  save(d, "date-le", dateOnly(false, "2004:01:05 10:00:00"));
  save(d, "date-be", dateOnly(true, "1969:12:31 23:59:59"));
  // A loop: IFD0's next pointer names IFD0 itself.
  tiffWriter loop(false);
  loop.ascii(dir::ifd0, 0x010F, "Maker");
  bytes b = loop.build();
  const size_t nextAt = 8 + 2 + 12;
  b[nextAt] = 8;
  save(d, "loop", b);
  save(d, "empty-le", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  save(d, "header-only-be", {'M', 'M', 0, 42, 0xFF, 0xFF, 0xFF, 0xFF});
}

void exifTimeSeeds(const std::string& d) {
  const char* const texts[] = {
      "2004:01:05 10:00:00", "0000:00:00 00:00:00", "2004-01-05 10:00:00",
      "2004:13:01 00:00:00", "2004:01:05 24:00:00", "1969:12:31 23:59:59",
      "2040:02:29 12:00:00", "99999:01:01 00:00:00", "2004:1:05 10:00:00",
      "2004:01:05  10:00:00", "+2004:01:05 10:00:00", "2004:01:05 10:00:0x",
      ": : : :", "-2147483648:-2147483648:-2147483648 -2147483648:-2147483648:-2147483648",
      "2004:03:28 02:30:00", "9999:12:31 23:59:59", "0001:01:01 00:00:00"};
  int i = 0;
  for (const char* t : texts) {
    std::string text(t);
    for (unsigned zone = 0; zone < 2; ++zone) {
      bytes b{static_cast<unsigned char>(zone | (i & 1 ? 0x80 : 0))};
      b.insert(b.end(), text.begin(), text.end());
      b.push_back(0);
      save(d, "text" + std::to_string(i) + "-" + std::to_string(zone), b);
    }
    ++i;
  }
  // With the camera's offset, the fallback tags, sub-seconds and GPS: the
  // parts after the first byte, each ended by 0xFF.
  const auto parts = [](unsigned char flags, const std::vector<std::string>& values, const bytes& gpsTime) {
    bytes b{flags};
    for (const std::string& v : values) {
      b.insert(b.end(), v.begin(), v.end());
      b.push_back(0xFF);
    }
    b.insert(b.end(), gpsTime.begin(), gpsTime.end());
    return b;
  };
  const bytes fix = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 59, 0, 0, 0, 1, 0, 0, 0, 45, 0, 0, 0, 1};
  bytes zeroDenominator = fix;
  zeroDenominator[15] = 0;
  const std::string date("2024:07:01 10:00:30\0", 20), gpsDate("2024:07:01\0", 11);
  save(d, "gps", parts(0x84, {date, "", "042", gpsDate}, fix));
  save(d, "gps-offset", parts(0x85, {date, "+02:00", std::string("5\0\0", 3), gpsDate}, fix));
  save(d, "gps-zero-denominator", parts(0x84, {date, "", "", gpsDate}, zeroDenominator));
  save(d, "gps-zero-date", parts(0x86, {date, "   :  ", std::string(40, '9'), "0000:00:00"}, fix));
  save(d, "digitized", parts(0x1C, {date, "-04:00", "123456789"}, {}));
  save(d, "datetime", parts(0x2D, {date, "+05:45", "1234567890", gpsDate}, fix));
}

// Runs of APP2 segments (no SOI): FlashPix contents lists and stream data
// around ICC and MPF segments, interleaved, repeated, short and damaged.
void flashpixSeeds(const std::string& d) {
  auto run = [&](const std::string& name, const std::vector<bytes>& payloads) {
    jpegWriter w;
    fpxSegments(w, payloads);
    save(d, name, w.data());
  };
  auto cat = [](std::vector<bytes> a, const std::vector<bytes>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const bytes wav = wavClip(300, 1);
  const bytes stream = fpxAudioStream(wav);
  const uint32_t size = static_cast<uint32_t>(stream.size());
  const bytes list = fpxContents({{"/Audio Info", 16}, {"/Audio Stream", size}});
  bytes icc = toBytes(std::string("ICC_PROFILE\0\1\1", 14));
  icc.resize(60, 0x42);
  const bytes mpf = toBytes(std::string("MPF\0MM\0*\0\0\0\x08", 12));
  run("icc-mpf", cat({icc, mpf, list, fpxData(0, 0, bytes(16, 'i'))}, fpxStreamData(1, stream, 120)));
  std::vector<bytes> mixed = {fpxContents({{"/Sound", fpxStorage},
                                           {"/Sound/Other", 200},
                                           {"/Sound/Audio Stream", size}})};
  const std::vector<bytes> audio = fpxStreamData(2, stream, 100), other = fpxStreamData(1, bytes(200, 'o'), 70);
  for (size_t k = 0; k < audio.size(); ++k) {
    if (k < other.size()) mixed.push_back(other[k]);
    if (k == 1) mixed.push_back(fpxFree(20));
    mixed.push_back(audio[k]);
  }
  run("interleaved", mixed);
  bytes first = stream;
  first.resize(150);
  run("repeated", {list, fpxData(1, 0x1000, first), fpxData(1, 100, bytes(stream.begin() + 100, stream.end())),
                   fpxData(1, 0, first)});
  run("short", {list, fpxData(1, 0, first)});
  run("two-lists", cat(cat({fpxContents({{"/Audio Stream", 99}})}, fpxStreamData(0, stream, 90)),
                       cat({list}, fpxStreamData(1, stream, 200))));
  bytes damaged = list;
  damaged[8] = 9;  // more entries than the list holds
  run("damaged-list", cat({damaged}, fpxStreamData(1, stream, 120)));
}

// HEIF files in each layout the locator reads: infe and iloc versions,
// the item in idat, in several extents, mdat before meta.
void heifSeeds(const std::string& d) {
  const bytes tiff = dateOnly(false, "2021:06:15 08:30:45");
  save(d, "plain", heifFile(tiff));
  save(d, "rich-be", heifFile(richTiff(true)));
  heifLayout l;
  l.infeVersion = 3;
  l.ilocVersion = 2;
  save(d, "v3-v2", heifFile(tiff, l));
  l = heifLayout();
  l.ilocVersion = 0;
  l.mdatFirst = true;
  save(d, "v0-mdat-first", heifFile(tiff, l));
  l = heifLayout();
  l.inIdat = true;
  l.extents = 2;
  save(d, "idat-2-extents", heifFile(tiff, l));
  l = heifLayout();
  l.extents = 3;
  save(d, "3-extents", heifFile(richTiff(false), l));
  // An mdat with a 64-bit size before meta, and a last box that runs to
  // the end of the file.
  l = heifLayout();
  l.mdatFirst = true;
  l.largeMdat = true;
  save(d, "large-size", heifFile(tiff, l));
  save(d, "size-zero", join({heifFile(tiff), be32(0), toBytes("mdat"), bytes(40, 0)}));
}

void tiffSeeds(const std::string& d) {
  save(d, "rich-le", richTiff(false));
  save(d, "rich-be", richTiff(true));
  // The raw formats' own magic numbers.
  const char* const magics[] = {"IIRO", "IIRS", "IIU", "MMOR"};
  for (const char* m : magics) {
    bytes b = dateOnly(m[0] == 'M', "2011:07:14 18:30:05");
    b[2] = static_cast<unsigned char>(m[2]);
    b[3] = static_cast<unsigned char>(m[3]);
    save(d, std::string("raw-") + m, b);
  }
  save(d, "no-exif", tiffWriter(true).ascii(dir::ifd0, 0x010F, "Scanner").build());
}

void pngSeeds(const std::string& d) {
  const bytes tiff = dateOnly(true, "2004:01:05 10:00:00");
  save(d, "before", pngFile(tiff));
  save(d, "after", pngFile(richTiff(false), true));
  save(d, "identifier", pngFile(join({toBytes(std::string("Exif\0\0", 6)), tiff})));
  save(d, "none", join({pngSignature(), pngChunk("IHDR", bytes(13, 1)), pngChunk("IEND", {})}));
}

void webpSeeds(const std::string& d) {
  save(d, "exif", webpWithExif(dateOnly(false, "2004:01:05 10:00:00")));
  save(d, "rich", webpWithExif(richTiff(true)));
  save(d, "simple", webpFile({riffChunk("VP8 ", bytes(21, 0x11))}));
  const bytes vp8x = riffChunk("VP8X", {0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  save(d, "odd-chunks", webpFile({vp8x, riffChunk("ICCP", bytes(3, 1)), riffChunk("VP8L", bytes(7, 2)),
                                 riffChunk("EXIF", join({toBytes(std::string("Exif\0\0", 6)),
                                                         dateOnly(true, "2011:07:14 18:30:05")}))}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: makeSeeds DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  for (const char* sub :
       {"", "/markers", "/exif", "/exif_time", "/flashpix", "/heif", "/tiff", "/png", "/webp"})
    mkdir((root + sub).c_str(), 0755);
  markerSeeds(root + "/markers");
  exifSeeds(root + "/exif");
  exifTimeSeeds(root + "/exif_time");
  flashpixSeeds(root + "/flashpix");
  heifSeeds(root + "/heif");
  tiffSeeds(root + "/tiff");
  pngSeeds(root + "/png");
  webpSeeds(root + "/webp");
  return 0;
}
