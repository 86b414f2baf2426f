// benchcorpus: writes the benchmark's photographs.
//
//   benchcorpus --stream image.jpg --thumb thumb.jpg --out DIR --count N
//               [--audio-seconds S] [--first K]
//
// Each photograph is laid out as a camera writes one: SOI, a JFIF APP0, an
// EXIF APP1 (IFD0, Exif IFD with an Interoperability IFD, GPS IFD, and IFD1
// with the JPEG thumbnail), optionally a sound clip in APP2 segments (four
// header segments, then the RIFF stream from the fifth on), a COM segment,
// and the image stream (tables, frame, scan, EOI) of image.jpg, which a real
// encoder made.  Capture times, byte order, GPS position, comment and sound
// differ from photograph to photograph.  Files are named p0000001.jpg, ...
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
#include "jpegWriter.h"

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

// The EXIF block of photograph i, with the thumbnail after the directories.
bytes exifBlock(unsigned i, const when& t, const bytes& thumb, unsigned width, unsigned height) {
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

[[noreturn]] void usage() {
  std::cerr << "usage: benchcorpus --stream image.jpg --thumb thumb.jpg --out DIR --count N"
               " [--audio-seconds S] [--first K]\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string streamPath, thumbPath, outDir;
  unsigned count = 0, first = 1;
  double audioSeconds = 10;
  for (int a = 1; a < argc; ++a) {
    const std::string opt = argv[a];
    if (a + 1 >= argc) usage();
    const char* val = argv[++a];
    if (opt == "--stream") streamPath = val;
    else if (opt == "--thumb") thumbPath = val;
    else if (opt == "--out") outDir = val;
    else if (opt == "--count") count = static_cast<unsigned>(std::strtoul(val, nullptr, 10));
    else if (opt == "--first") first = static_cast<unsigned>(std::strtoul(val, nullptr, 10));
    else if (opt == "--audio-seconds") audioSeconds = std::strtod(val, nullptr);
    else usage();
  }
  if (streamPath.empty() || thumbPath.empty() || outDir.empty() || !count || !first) usage();

  try {
    const bytes stream = imageStream(readAll(streamPath));
    const bytes thumb = readAll(thumbPath);
    unsigned width = 0, height = 0;
    frameSize(stream, width, height);
    for (unsigned i = first; i < first + count; ++i) {
      const when t = captureTime(i);
      const bytes block = exifBlock(i, t, thumb, width, height);
      if (block.size() + 8 > 65535) throw std::runtime_error("EXIF block too large for APP1");
      jpegWriter w;
      w.soi().app0Jfif().app1Exif(block);
      if (audioSeconds > 0) appendSound(w, i, soundClip(i, audioSeconds));
      w.com("Photograph " + std::to_string(i) + ", taken " + t.text('-') +
            " by the benchmark camera.");
      w.raw(stream);
      char name[32];
      std::snprintf(name, sizeof name, "/p%07u.jpg", i);
      w.save(outDir + name);
    }
  } catch (const std::exception& e) {
    std::cerr << "benchcorpus: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
