// benchcorpus: writes the benchmark's photographs.
//
//   benchcorpus --stream image.jpg --thumb thumb.jpg --out DIR --count N
//               [--audio-seconds S] [--first K] [--camera]
//   benchcorpus --movies --out DIR --count N [--first K]
//   benchcorpus --screenshots --out DIR --count N [--first K]
//
// Each photograph is laid out as a camera writes one: SOI, a JFIF APP0, an
// EXIF APP1 (IFD0, Exif IFD with an Interoperability IFD, GPS IFD, and IFD1
// with the JPEG thumbnail), optionally a sound clip in APP2 segments (four
// header segments, then the RIFF stream from the fifth on), a COM segment,
// and the image stream (tables, frame, scan, EOI) of image.jpg, which a real
// encoder made.  Capture times, byte order, GPS position, comment and sound
// differ from photograph to photograph.  Files are named p0000001.jpg, ...
//
// --camera lays them out as current cameras write them instead: no APP0;
// an EXIF APP1 of 30-60 KB, whose Exif IFD ends with a maker note of 10-30
// KB and whose IFD1 holds a 10-40 KB thumbnail; then an ICC profile APP2
// (every third photograph) or an MPF APP2 describing a preview appended
// after EOI (every third, another); then the sound clip as a FlashPix
// stream (a contents list naming "/Audio Info" and "/Audio Stream", the
// Audio Info stream, two free segments, the Audio Stream's segments), the
// comment and the image stream.  Without ICC or MPF data the clip stands at
// the positions sonlift reads first; after them, sonlift finds it through
// the contents list.  --stream and --thumb may then be given several times:
// each photograph takes one of each, picked by a hash of its number, so
// that sizes come in shuffled order.
//
// --movies writes phone movies of 2 to 10 MB: p0000001.mov, ... are
// QuickTime files as a phone writes them (a Keys creation date with its
// offset), p0000002.mp4, ... ISO files dated by their movie header only;
// in every other pair the movie box stands before the media data (a "fast
// start" file), else after it.  The movie box holds a video and a sound
// track with sample tables of a minute's samples (35 KB in all).
// --screenshots writes PNG screenshots of 0.3 to 2 MB: the image data in
// chunks of 8 KB as libpng writes them, an eXIf chunk with the capture time
// after the image data (two in three, as ImageMagick puts it) or before it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "byteReader.h"
#include "cameraFileWriter.h"
#include "containerWriter.h"
#include "flashpixWriter.h"
#include "jpegWriter.h"
#include "mix.h"

using testjpeg::bytes;
using testjpeg::dir;
using testjpeg::jpegWriter;
using testjpeg::tiffWriter;

namespace {

bytes readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The image stream of an encoded JPEG: its tables, frame header, scan
// header and entropy-coded data up to and including EOI, without the
// encoder's own APPn and COM segments.
bytes imageStream(const bytes& jpeg) {
  byteReader r(jpeg.data(), jpeg.size());
  uint16_t soi = 0;
  if (!r.u16At(0, soi) || soi != 0xFFD8) throw std::runtime_error("image stream: no SOI");
  bytes out;
  uint64_t pos = 2;
  for (;;) {
    uint8_t ff = 0, code = 0;
    if (!r.u8At(pos, ff) || ff != 0xFF || !r.u8At(pos + 1, code))
      throw std::runtime_error("image stream: no marker where one must stand");
    if (code == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    const unsigned char* p = nullptr;
    if (code == 0xDA) {  // the scan runs to the end of the file
      if (!r.viewAt(pos, jpeg.size() - pos, p)) throw std::runtime_error("image stream: bad SOS");
      out.insert(out.end(), p, p + (jpeg.size() - pos));
      break;
    }
    uint16_t len = 0;
    if (!r.u16At(pos + 2, len) || len < 2 || !r.viewAt(pos, 2u + len, p))
      throw std::runtime_error("image stream: damaged segment");
    const bool keep = !(code >= 0xE0 && code <= 0xEF) && code != 0xFE;
    if (keep) out.insert(out.end(), p, p + 2 + len);
    pos += 2u + len;
  }
  byteReader s(out.data(), out.size());
  uint16_t eoi = 0;
  if (!s.u16At(out.size() - 2, eoi) || eoi != 0xFFD9)
    throw std::runtime_error("image stream: does not end with EOI");
  return out;
}

struct when {
  int year, month, day, hour, minute, second;
  std::string text(char dateSep = ':') const {
    char t[32];
    std::snprintf(t, sizeof t, "%04d%c%02d%c%02d %02d:%02d:%02d", year, dateSep, month, dateSep,
                  day, hour, minute, second);
    return t;
  }
  std::string date() const { return text().substr(0, 10); }
};

// Capture times spread over twenty years and all hours of the day.
when captureTime(unsigned i) {
  return {2004 + static_cast<int>((i * 7) % 20),  1 + static_cast<int>((i * 5) % 12),
          1 + static_cast<int>((i * 11) % 28),    static_cast<int>((i * 13) % 24),
          static_cast<int>((i * 17 + i / 60) % 60), static_cast<int>((i * 19) % 60)};
}

bytes concat(std::initializer_list<bytes> parts) {
  bytes out;
  for (const bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Bytes that do not compress, as a maker note's or a profile's are not.
bytes noise(uint64_t seed, size_t n) {
  bytes b(n);
  for (size_t k = 0; k < n; ++k) b[k] = static_cast<unsigned char>(mix(seed * 0x9E3779B97F4A7C15ull + k));
  return b;
}

// A maker note as cameras write one: a maker's header, then an IFD-like
// table of private entries and their values, here n bytes in all.
bytes makerNote(unsigned i, size_t n, bool big) {
  bytes b = testjpeg::toBytes("BENCHCAM");
  b.push_back(0);
  b.push_back(big ? 'M' : 'I');
  bytes rest = noise(i, n > b.size() ? n - b.size() : 0);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

// The EXIF block of photograph i, with the thumbnail after the directories.
bytes exifBlock(unsigned i, const when& t, const bytes& thumb, unsigned width, unsigned height,
                size_t makerNoteBytes = 0) {
  const bool big = i % 2 == 1;  // both byte orders occur in real libraries
  tiffWriter w(big);
  auto rationals = [&](std::initializer_list<std::pair<uint32_t, uint32_t>> v) {
    bytes b;
    for (auto& r : v) b = concat({b, w.u32(r.first), w.u32(r.second)});
    return b;
  };
  w.ascii(dir::ifd0, 0x010F, "Benchmark Camera Works")
      .ascii(dir::ifd0, 0x0110, "BC-" + std::to_string(100 + i % 7))
      .shorts(dir::ifd0, 0x0112, {1})
      .rational(dir::ifd0, 0x011A, 300, 1)
      .rational(dir::ifd0, 0x011B, 300, 1)
      .shorts(dir::ifd0, 0x0128, {2})
      .ascii(dir::ifd0, 0x0131, "Firmware 1.0" + std::to_string(i % 10))
      .ascii(dir::ifd0, 0x0132, t.text())
      .shorts(dir::ifd0, 0x0213, {2});

  w.rational(dir::exif, 0x829A, 1, 60u + (i % 8) * 60u)
      .rational(dir::exif, 0x829D, 28u + (i % 5) * 8u, 10)
      .shorts(dir::exif, 0x8822, {2})
      .shorts(dir::exif, 0x8827, {static_cast<uint16_t>(100u << (i % 5))})
      .undefined(dir::exif, 0x9000, testjpeg::toBytes("0231"))
      .dateTimeOriginal(t.text())
      .ascii(dir::exif, 0x9004, t.text())
      .undefined(dir::exif, 0x9101, {1, 2, 3, 0})
      .add(dir::exif, 0x9204, 10, 1, rationals({{0, 3}}))
      .shorts(dir::exif, 0x9207, {5})
      .shorts(dir::exif, 0x9209, {16})
      .rational(dir::exif, 0x920A, 240u + (i % 9) * 100u, 10)
      .ascii(dir::exif, 0x9290, std::to_string(i % 1000))
      .undefined(dir::exif, 0xA000, testjpeg::toBytes("0100"))
      .shorts(dir::exif, 0xA001, {1})
      .longs(dir::exif, 0xA002, {width})
      .longs(dir::exif, 0xA003, {height})
      .shorts(dir::exif, 0xA402, {0})
      .shorts(dir::exif, 0xA403, {0});
  // Last in the Exif IFD, so its value follows the others, as in camera files.
  if (makerNoteBytes) w.undefined(dir::exif, 0x927C, makerNote(i, makerNoteBytes, big));
  w.ascii(dir::interop, 0x0001, "R98").undefined(dir::interop, 0x0002, testjpeg::toBytes("0100"));

  const uint32_t latMin = i % 60, lonMin = (i * 7) % 60;
  w.add(dir::gps, 0x0000, 1, 4, {2, 3, 0, 0})
      .ascii(dir::gps, 0x0001, i % 3 ? "N" : "S")
      .add(dir::gps, 0x0002, 5, 3, rationals({{10u + i % 70, 1}, {latMin, 1}, {i % 6000, 100}}))
      .ascii(dir::gps, 0x0003, i % 4 ? "E" : "W")
      .add(dir::gps, 0x0004, 5, 3, rationals({{i % 180, 1}, {lonMin, 1}, {(i * 37) % 6000, 100}}))
      .add(dir::gps, 0x0005, 1, 1, {0})
      .rational(dir::gps, 0x0006, 1000u + (i % 3000) * 10u, 10)
      .add(dir::gps, 0x0007, 5, 3,
           rationals({{static_cast<uint32_t>(t.hour), 1},
                      {static_cast<uint32_t>(t.minute), 1},
                      {static_cast<uint32_t>(t.second), 1}}))
      .ascii(dir::gps, 0x001D, t.date());

  // IFD1 describes the thumbnail; its offset is known only after layout.
  w.shorts(dir::ifd1, 0x0103, {6})
      .rational(dir::ifd1, 0x011A, 72, 1)
      .rational(dir::ifd1, 0x011B, 72, 1)
      .shorts(dir::ifd1, 0x0128, {2})
      .longs(dir::ifd1, 0x0201, {0})
      .longs(dir::ifd1, 0x0202, {static_cast<uint32_t>(thumb.size())});
  bytes block = w.build();

  // Point JPEGInterchangeFormat at the thumbnail, appended to the block.
  const uint32_t at = w.dirOffset(dir::ifd1);
  byteReader r(block.data(), block.size(), big);
  uint16_t count = 0;
  if (!at || !r.u16At(at, count)) throw std::runtime_error("EXIF block without IFD1");
  bool patched = false;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t e = at + 2 + 12ull * k;
    uint16_t tag = 0;
    if (!r.u16At(e, tag) || tag != 0x0201) continue;
    const bytes v = w.u32(static_cast<uint32_t>(block.size()));
    std::copy(v.begin(), v.end(), block.begin() + static_cast<std::ptrdiff_t>(e + 8));
    patched = true;
  }
  if (!patched) throw std::runtime_error("IFD1 without JPEGInterchangeFormat");
  block.insert(block.end(), thumb.begin(), thumb.end());
  return block;
}

// A sound clip as a RIFF WAVE stream: 8-bit mono PCM at 8 kHz, a tone whose
// pitch differs from photograph to photograph.
bytes soundClip(unsigned i, double seconds) {
  const uint32_t rate = 8000;
  const uint32_t samples = static_cast<uint32_t>(seconds * rate);
  auto le32 = [](uint32_t v) {
    return bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  };
  auto le16 = [](uint16_t v) { return bytes{uint8_t(v), uint8_t(v >> 8)}; };
  bytes wav = concat({testjpeg::toBytes("RIFF"), le32(36 + samples), testjpeg::toBytes("WAVEfmt "),
                      le32(16), le16(1), le16(1), le32(rate), le32(rate), le16(1), le16(8),
                      testjpeg::toBytes("data"), le32(samples)});
  const double pitch = 220.0 + 20.0 * (i % 24);
  for (uint32_t s = 0; s < samples; ++s)
    wav.push_back(static_cast<unsigned char>(128 + 90 * std::sin(2 * M_PI * pitch * s / rate)));
  return wav;
}

// APP2 segments carrying the clip: four header segments, then the stream,
// 28 bytes further in in the first audio segment.  Every segment starts
// with a 13-byte header.
void appendSound(jpegWriter& out, unsigned i, const bytes& wav) {
  auto header = [&](unsigned index) {
    bytes h = testjpeg::toBytes("SNDCLIP");
    h.push_back(0);
    h.push_back(static_cast<uint8_t>(index));
    const bytes n = {uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
    h.insert(h.end(), n.begin(), n.end());
    return h;  // 13 bytes
  };
  for (unsigned k = 0; k < 4; ++k) {
    bytes seg = header(k);
    seg.resize(seg.size() + 64 + 16 * k, static_cast<uint8_t>(k));
    out.segment(0xE2, seg);
  }
  const size_t maxPayload = 65533;
  size_t done = 0;
  for (unsigned k = 4; done < wav.size(); ++k) {
    bytes seg = header(k);
    if (k == 4) seg.resize(seg.size() + 28, 0);
    const size_t n = std::min(wav.size() - done, maxPayload - seg.size());
    seg.insert(seg.end(), wav.begin() + static_cast<std::ptrdiff_t>(done),
               wav.begin() + static_cast<std::ptrdiff_t>(done + n));
    done += n;
    out.segment(0xE2, seg);
  }
}

// The sound clip as a camera writes it in FlashPix APP2 segments: a
// contents list, the Audio Info stream, two free segments, then the Audio
// Stream (a 28-byte stream header and the RIFF stream) in segments as large
// as a segment may be.  Without other APP2 data before them, the stream's
// RIFF header is the fifth APP2 segment's byte 45, and later segments' data
// begins at byte 17.
void appendFlashPixSound(jpegWriter& out, unsigned i, const bytes& wav) {
  const bytes stream = testjpeg::fpxAudioStream(wav);
  bytes info = testjpeg::toBytes("audio info");
  info.resize(16, static_cast<uint8_t>(i));
  testjpeg::fpxSegments(
      out, {testjpeg::fpxContents({{"/Audio Info", static_cast<uint32_t>(info.size())},
                                   {"/Audio Stream", static_cast<uint32_t>(stream.size())}}),
            testjpeg::fpxData(0, 0, info), testjpeg::fpxFree(64), testjpeg::fpxFree(64)});
  testjpeg::fpxSegments(out, testjpeg::fpxStreamData(1, stream));
}

// An ICC profile APP2: the signature, sequence 1 of 1, and a display
// profile of about 3 KB (header, tag table, tag data).
bytes iccSegment(unsigned i) {
  bytes p = testjpeg::toBytes("ICC_PROFILE");
  p.push_back(0);
  p.push_back(1);
  p.push_back(1);
  const uint32_t size = 3144;
  auto be32 = [](uint32_t v) { return bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; };
  bytes prof = be32(size);
  auto put = [&](const bytes& b) { prof.insert(prof.end(), b.begin(), b.end()); };
  put(testjpeg::toBytes("none"));
  put(be32(0x02100000));
  put(testjpeg::toBytes("mntrRGB XYZ "));
  prof.resize(36, 0);
  put(testjpeg::toBytes("acsp"));
  prof.resize(128, 0);
  const char* tags[] = {"desc", "wtpt", "rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"};
  put(be32(8));
  uint32_t at = 128 + 4 + 8 * 12;
  const uint32_t each = (size - at) / 8;
  for (const char* tag : tags) {
    put(testjpeg::toBytes(tag));
    put(be32(at));
    put(be32(each));
    at += each;
  }
  put(noise(0x1CC0000ull + i % 4, size - prof.size()));
  p.insert(p.end(), prof.begin(), prof.end());
  return p;
}

// An MPF APP2 for a photograph and one preview image appended after its
// EOI: the MP index IFD (big-endian) with the version, the number of
// images and two MP entries.  The preview's offset, from the TIFF header
// (8 bytes into the payload), is patched in by patchMpf once it is known.
// Payload positions of the primary image's size and the preview's offset.
constexpr size_t mpfPrimarySizeAt = 4 + 8 + 2 + 3 * 12 + 4 + 4;
constexpr size_t mpfPreviewOffsetAt = 4 + 8 + 2 + 3 * 12 + 4 + 16 + 8;
bytes mpfSegment(uint32_t primarySize, uint32_t previewSize) {
  bytes p = testjpeg::toBytes("MPF");
  p.push_back(0);
  tiffWriter w(true);
  auto put = [&](const bytes& b) { p.insert(p.end(), b.begin(), b.end()); };
  put({'M', 'M', 0, 42});
  put(w.u32(8));
  put(w.u16(3));
  const uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
  put(w.u16(0xB000)); put(w.u16(7)); put(w.u32(4)); put(testjpeg::toBytes("0100"));
  put(w.u16(0xB001)); put(w.u16(4)); put(w.u32(1)); put(w.u32(2));
  put(w.u16(0xB002)); put(w.u16(7)); put(w.u32(32)); put(w.u32(entriesAt));
  put(w.u32(0));  // no next IFD
  // Primary image: baseline, representative; preview: a large thumbnail.
  put(w.u32(0x20030000)); put(w.u32(primarySize)); put(w.u32(0)); put(w.u16(0)); put(w.u16(0));
  put(w.u32(0x00010001)); put(w.u32(previewSize)); put(w.u32(0)); put(w.u16(0)); put(w.u16(0));
  return p;
}

// The frame's width and height, from the SOFn segment of the stream.
void frameSize(const bytes& stream, unsigned& width, unsigned& height) {
  byteReader r(stream.data(), stream.size());
  uint64_t pos = 0;
  uint8_t ff = 0, code = 0;
  uint16_t len = 0;
  while (r.u8At(pos, ff) && ff == 0xFF && r.u8At(pos + 1, code) && r.u16At(pos + 2, len)) {
    if (code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC) {
      uint16_t h = 0, w = 0;
      if (r.u16At(pos + 5, h) && r.u16At(pos + 7, w)) {
        width = w;
        height = h;
        return;
      }
    }
    if (code == 0xDA) break;
    pos += 2u + len;
  }
  throw std::runtime_error("image stream without a frame header");
}

void putBe32(bytes& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v >> 24);
  b[at + 1] = uint8_t(v >> 16);
  b[at + 2] = uint8_t(v >> 8);
  b[at + 3] = uint8_t(v);
}

void save(const bytes& b, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// One photograph as a current camera writes it (see --camera above).
bytes cameraPhoto(unsigned i, const when& t, const bytes& stream, const bytes& thumb,
                  unsigned width, unsigned height, double audioSeconds) {
  // The APP1 is 30-60 KB: directories of about 2 KB, the thumbnail, and a
  // maker note of 10-30 KB making up the rest.
  const size_t app1 = 30000 + mix(i * 3 + 1) % 30001;
  const size_t rest = app1 > thumb.size() + 2000 ? app1 - thumb.size() - 2000 : 0;
  const size_t note = std::min<size_t>(30000, std::max<size_t>(10000, rest));
  const bytes block = exifBlock(i, t, thumb, width, height, note);
  if (block.size() + 8 > 65535) throw std::runtime_error("EXIF block too large for APP1");
  jpegWriter w;
  w.soi().app1Exif(block);
  size_t mpfAt = 0;
  if (i % 3 == 0) {
    w.segment(0xE2, iccSegment(i));
  } else if (i % 3 == 1) {
    mpfAt = w.size() + 4;
    w.segment(0xE2, mpfSegment(0, static_cast<uint32_t>(thumb.size())));
  }
  if (audioSeconds > 0) appendFlashPixSound(w, i, soundClip(i, audioSeconds));
  w.com("Photograph " + std::to_string(i) + ", taken " + t.text('-') + " by the benchmark camera.");
  w.raw(stream);
  bytes out = w.data();
  if (mpfAt) {
    // The preview follows the primary image; offsets count from the MPF
    // block's TIFF header.
    putBe32(out, mpfAt + mpfPrimarySizeAt, static_cast<uint32_t>(out.size()));
    putBe32(out, mpfAt + mpfPreviewOffsetAt, static_cast<uint32_t>(out.size() - (mpfAt + 4)));
    out.insert(out.end(), thumb.begin(), thumb.end());
  }
  return out;
}

// A track whose sample tables list `samples` samples (sizes and chunk offsets).
bytes movieTrack(uint32_t samples, uint64_t seed) {
  using testjpeg::isoBox;
  using testjpeg::isoFullBox;
  bytes sizes, offsets;
  for (uint32_t k = 0; k < samples; ++k) {
    const bytes size = testjpeg::be32(static_cast<uint32_t>(1000 + mix(seed + k) % 60000));
    sizes.insert(sizes.end(), size.begin(), size.end());
    const bytes offset = testjpeg::be32(static_cast<uint32_t>(mix(seed + k + 1) % 0x7FFFFFFF));
    offsets.insert(offsets.end(), offset.begin(), offset.end());
  }
  const bytes stbl = isoBox("stbl", concat({isoFullBox("stsz", 0, concat({testjpeg::be32(0), testjpeg::be32(samples), sizes})),
                                            isoFullBox("stco", 0, concat({testjpeg::be32(samples), offsets}))}));
  const bytes mdia = isoBox("mdia", concat({isoFullBox("mdhd", 0, bytes(20, 0)), isoBox("minf", stbl)}));
  return isoBox("trak", concat({isoFullBox("tkhd", 0, bytes(80, 0)), mdia}));
}

// Writes a movie: its boxes, and its media data streamed in pieces.
void saveMovie(unsigned i, const when& t, const std::string& path) {
  using testjpeg::isoBox;
  const bool quickTime = i % 2 == 1, moovFirst = i % 4 < 2;
  struct tm wall = {};
  wall.tm_year = t.year - 1900;
  wall.tm_mon = t.month - 1;
  wall.tm_mday = t.day;
  wall.tm_hour = t.hour;
  wall.tm_min = t.minute;
  wall.tm_sec = t.second;
  const uint64_t created = static_cast<uint64_t>(timegm(&wall)) + testjpeg::movieEpochOffset;
  bytes moovChildren = concat({testjpeg::movieHeader(0, created), movieTrack(1800, i * 2), movieTrack(2600, i * 2 + 1)});
  if (quickTime) {
    char date[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d+0%d00", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, static_cast<int>(i % 10));
    moovChildren = concat({moovChildren, testjpeg::keysMeta("com.apple.quicktime.creationdate", date)});
  }
  const bytes moov = isoBox("moov", moovChildren);
  const std::string brand = quickTime ? "qt  " : "mp42";
  const bytes ftyp = isoBox("ftyp", concat({testjpeg::toBytes(brand), testjpeg::be32(0), testjpeg::toBytes(brand + "isom")}));
  const size_t media = (2 + mix(i) % 9) << 20;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  auto put = [&](const bytes& b) { out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size())); };
  put(ftyp);
  if (moovFirst) put(moov);
  put(concat({testjpeg::be32(static_cast<uint32_t>(media + 8)), testjpeg::toBytes("mdat")}));
  const size_t piece = 1 << 20;
  for (size_t done = 0; done < media; done += piece) put(noise(i * 131 + done, std::min(piece, media - done)));
  if (!moovFirst) put(moov);
  if (!out) throw std::runtime_error("cannot write " + path);
}

// A PNG screenshot: IHDR, sRGB, pHYs, the image data in 8 KB chunks, the
// capture time in an eXIf chunk before or after them, IEND.
bytes screenshot(unsigned i, const when& t) {
  using testjpeg::be32;
  using testjpeg::pngChunk;
  const bytes ihdr = pngChunk("IHDR", concat({be32(1920 + 640 * (i % 2)), be32(1080 + 360 * (i % 2)), {8, 6, 0, 0, 0}}));
  const bytes exif = pngChunk("eXIf", tiffWriter(i % 2 == 0).ascii(dir::ifd0, 0x0131, "Benchmark screenshots")
                                          .dateTimeOriginal(t.text()).build());
  const bool exifFirst = i % 3 == 0;
  bytes b = concat({testjpeg::pngSignature(), ihdr, pngChunk("sRGB", {0}), pngChunk("pHYs", bytes(9, 1))});
  if (exifFirst) b = concat({b, exif});
  const size_t image = 300000 + mix(i) % 1700000;
  for (size_t done = 0; done < image; done += 8192) {
    const bytes idat = pngChunk("IDAT", noise(i * 977 + done, std::min<size_t>(8192, image - done)));
    b.insert(b.end(), idat.begin(), idat.end());
  }
  if (!exifFirst) b = concat({b, exif});
  return concat({b, pngChunk("IEND", {})});
}

[[noreturn]] void usage() {
  std::cerr << "usage: benchcorpus --stream image.jpg --thumb thumb.jpg --out DIR --count N"
               " [--audio-seconds S] [--first K] [--camera]\n"
               "       benchcorpus --movies | --screenshots --out DIR --count N [--first K]\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> streamPaths, thumbPaths;
  std::string outDir;
  unsigned count = 0, first = 1;
  double audioSeconds = 10;
  bool camera = false, movies = false, screenshots = false;
  for (int a = 1; a < argc; ++a) {
    const std::string opt = argv[a];
    if (opt == "--camera" || opt == "--movies" || opt == "--screenshots") {
      (opt == "--camera" ? camera : opt == "--movies" ? movies : screenshots) = true;
      continue;
    }
    if (a + 1 >= argc) usage();
    const char* val = argv[++a];
    if (opt == "--stream") streamPaths.push_back(val);
    else if (opt == "--thumb") thumbPaths.push_back(val);
    else if (opt == "--out") outDir = val;
    else if (opt == "--count") count = static_cast<unsigned>(std::strtoul(val, nullptr, 10));
    else if (opt == "--first") first = static_cast<unsigned>(std::strtoul(val, nullptr, 10));
    else if (opt == "--audio-seconds") audioSeconds = std::strtod(val, nullptr);
    else usage();
  }
  if (movies || screenshots) {
    if (outDir.empty() || !count || !first || (movies && screenshots)) usage();
    try {
      for (unsigned i = first; i < first + count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%07u.%s", i, screenshots ? "png" : i % 2 ? "mov" : "mp4");
        if (movies) saveMovie(i, captureTime(i), outDir + name);
        else save(screenshot(i, captureTime(i)), outDir + name);
      }
    } catch (const std::exception& e) {
      std::cerr << "benchcorpus: " << e.what() << "\n";
      return 1;
    }
    return 0;
  }
  if (streamPaths.empty() || thumbPaths.empty() || outDir.empty() || !count || !first) usage();
  if (!camera && (streamPaths.size() > 1 || thumbPaths.size() > 1)) usage();

  try {
    std::vector<bytes> streams, thumbs;
    std::vector<std::pair<unsigned, unsigned>> sizes;
    for (const std::string& p : streamPaths) {
      streams.push_back(imageStream(readAll(p)));
      unsigned width = 0, height = 0;
      frameSize(streams.back(), width, height);
      sizes.emplace_back(width, height);
    }
    for (const std::string& p : thumbPaths) thumbs.push_back(readAll(p));
    for (unsigned i = first; i < first + count; ++i) {
      const when t = captureTime(i);
      char name[32];
      std::snprintf(name, sizeof name, "/p%07u.jpg", i);
      if (camera) {
        const size_t s = mix(i * 3) % streams.size(), k = mix(i * 3 + 2) % thumbs.size();
        save(cameraPhoto(i, t, streams[s], thumbs[k], sizes[s].first, sizes[s].second, audioSeconds),
             outDir + name);
        continue;
      }
      const bytes block = exifBlock(i, t, thumbs[0], sizes[0].first, sizes[0].second);
      if (block.size() + 8 > 65535) throw std::runtime_error("EXIF block too large for APP1");
      jpegWriter w;
      w.soi().app0Jfif().app1Exif(block);
      if (audioSeconds > 0) appendSound(w, i, soundClip(i, audioSeconds));
      w.com("Photograph " + std::to_string(i) + ", taken " + t.text('-') +
            " by the benchmark camera.");
      w.raw(streams[0]);
      w.save(outDir + name);
    }
  } catch (const std::exception& e) {
    std::cerr << "benchcorpus: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
