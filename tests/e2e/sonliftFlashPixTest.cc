// sonlift end to end on photographs whose sound clip is a FlashPix stream
// that the fixed positions miss: its output lines, the .wav bytes, the
// missing-bytes report, and today's output for photographs without a clip.
// Where exiftool is installed, its -AudioStream is the independent oracle.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "flashpixWriter.h"
#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

std::string str(const bytes& b) { return std::string(b.begin(), b.end()); }

bytes iccPayload() {
  bytes b = toBytes(std::string("ICC_PROFILE\0\1\1", 14));
  b.resize(b.size() + 500, 0x42);
  return b;
}

bytes mpfPayload() {
  bytes b = toBytes(std::string("MPF\0MM\0*\0\0\0\x08", 12));
  b.resize(b.size() + 90, 0);
  return b;
}

uint32_t streamSize(const bytes& wav) { return static_cast<uint32_t>(wav.size() + 28); }

std::vector<bytes> join(std::initializer_list<std::vector<bytes>> parts) {
  std::vector<bytes> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A photograph as a camera writes it: SOI, EXIF, the APP2 payloads, the
// image; or, when `cut`, a last APP2 segment that runs past the end of the
// file.  Returns the offset after the payloads' segments.
size_t photo(const std::string& path, const std::vector<bytes>& app2, bool cut = false) {
  jpegWriter w;
  w.soi().app1Exif({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  fpxSegments(w, app2);
  const size_t end = w.size();
  if (cut) {
    w.segmentWithLength(0xE2, 65535, toBytes("runs past the end"));
  } else {
    w.frameHeaders().sos().raw({0x12, 0x34, 0xFF, 0x00, 0x56}).eoi();
  }
  w.save(path);
  return end;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The clip after an ICC profile and an MPF directory: the camera's own
// layout (contents list, Audio Info, two free segments, the Audio Stream)
// shifted by two segments.
std::vector<bytes> afterIccAndMpf(const bytes& wav) {
  return join({{iccPayload(), mpfPayload(),
                fpxContents({{"/Audio Info", 16}, {"/Audio Stream", streamSize(wav)}}),
                fpxData(0, 0, bytes(16, 'i')), fpxFree(64), fpxFree(64)},
               fpxStreamData(1, fpxAudioStream(wav))});
}

// The clip's segments between those of another stream, with free segments
// and repeated data (each segment repeats the last 100 bytes of the one
// before, as writers do).
std::vector<bytes> interleaved(const bytes& wav) {
  const bytes stream = fpxAudioStream(wav);
  std::vector<bytes> audio;
  for (size_t at = 0; at < stream.size(); at += 900) {
    const size_t from = at < 100 ? 0 : at - 100, to = std::min(stream.size(), at + 900);
    audio.push_back(fpxData(2, static_cast<uint32_t>(from),
                            bytes(stream.begin() + static_cast<std::ptrdiff_t>(from),
                                  stream.begin() + static_cast<std::ptrdiff_t>(to))));
  }
  const std::vector<bytes> other = fpxStreamData(1, bytes(4000, 'o'), 800);
  std::vector<bytes> app2 = {fpxContents({{"/Sound", fpxStorage},
                                          {"/Sound/Other Stream", 4000},
                                          {"/Sound/Audio Stream", streamSize(wav)}})};
  for (size_t k = 0; k < audio.size() || k < other.size(); ++k) {
    if (k < other.size()) app2.push_back(other[k]);
    if (k == 2) app2.push_back(fpxFree(30));
    if (k < audio.size()) app2.push_back(audio[k]);
  }
  return app2;
}

class SonliftFlashPix : public ::testing::Test {
 protected:
  toolResult run(const std::vector<std::string>& args) {
    return runToolMerged(SONLIFT, args, {{}, dir.path()});
  }
  // x.jpg laid out so gives exactly the clip, with the usual lines.
  void expectClip(const std::vector<bytes>& layout, const bytes& wav) {
    photo(dir / "x.jpg", layout);
    const toolResult r = run({"x.jpg"});
    EXPECT_EQ(r.out, "JFIF file x.jpg:\nRIFF file x.jpg.wav\n");
    EXPECT_TRUE(readFile(dir / "x.jpg.wav") == str(wav));
  }
  tempDir dir;
};

TEST_F(SonliftFlashPix, AClipAfterIccAndMpfSegmentsIsWritten) {
  const bytes wav = wavClip(100000, 1);
  expectClip(afterIccAndMpf(wav), wav);
}

TEST_F(SonliftFlashPix, AClipBetweenAnotherStreamsSegmentsIsWritten) {
  const bytes wav = wavClip(5000, 2);
  expectClip(interleaved(wav), wav);
}

TEST_F(SonliftFlashPix, AClipInFewerThanFiveApp2SegmentsIsWritten) {
  const bytes wav = wavClip(70000, 3);
  expectClip(join({{fpxContents({{"/Audio Stream", streamSize(wav)}})},
                   fpxStreamData(0, fpxAudioStream(wav))}),
             wav);
}

// A stream shorter than its listed size is written as far as it goes
// without a gap, and one report line says how much is missing.
TEST_F(SonliftFlashPix, AShortStreamIsWrittenAndTheMissingBytesReported) {
  const bytes wav = wavClip(3000, 4);
  const std::vector<bytes> data = fpxStreamData(0, fpxAudioStream(wav), 1000);
  photo(dir / "x.jpg",
        {fpxContents({{"/Audio Stream", streamSize(wav)}}), data[0], data[1], data[3]});
  const toolResult r = run({"x.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file x.jpg:\nRIFF file x.jpg.wav\n"
            "chronel: x.jpg holds an incomplete sound clip: " +
                std::to_string(wav.size() - (2000 - 28)) + " of its " + std::to_string(wav.size()) +
                " bytes are missing.\n");
  EXPECT_TRUE(readFile(dir / "x.jpg.wav") == str(wav).substr(0, 2000 - 28));
}

// Damage after the clip's segments keeps the clip, then is the report
// line: after five APP2 segments or more, and after fewer.
TEST_F(SonliftFlashPix, DamageAfterTheClipKeepsTheClipThenReports) {
  const bytes wav = wavClip(3000, 5);
  const bytes list = fpxContents({{"/Audio Stream", streamSize(wav)}});
  const size_t manyAt =
      photo(dir / "many.jpg", join({{list}, fpxStreamData(0, fpxAudioStream(wav), 1000)}), true);
  const size_t fewAt =
      photo(dir / "few.jpg", join({{list}, fpxStreamData(0, fpxAudioStream(wav))}), true);
  const toolResult r = run({"many.jpg", "few.jpg"});
  EXPECT_EQ(r.out,
            "JFIF file many.jpg:\nRIFF file many.jpg.wav\n"
            "chronel: many.jpg is truncated: APP2 at offset " +
                std::to_string(manyAt) +
                " runs past the end of the file.\n"
                "JFIF file few.jpg:\nRIFF file few.jpg.wav\n"
                "chronel: few.jpg is truncated: APP2 at offset " +
                std::to_string(fewAt) + " runs past the end of the file.\n");
  EXPECT_TRUE(readFile(dir / "many.jpg.wav") == str(wav));
  EXPECT_TRUE(readFile(dir / "few.jpg.wav") == str(wav));
}

// Photographs without a clip print what they printed before the FlashPix
// reader: with five APP2 segments or more, the report line on the fifth;
// with fewer, nothing.  Hostile lists among them.
TEST_F(SonliftFlashPix, WithoutAClipTheOutputStaysAsItWas) {
  const bytes wav = wavClip(200, 5);
  const uint32_t size = streamSize(wav);
  const std::vector<bytes> data = fpxStreamData(0, fpxAudioStream(wav), 60);
  bytes tooMany = fpxContents({{"/Audio Stream", size}});
  tooMany[7] = 0xFF;  // 65281 entries in a list of one
  bytes noNul = fpxContents({{"/Audio Stream", size}});
  noNul.resize(noNul.size() - 2);
  bytes notRiff = fpxAudioStream(wav);
  notRiff[28] = 'X';
  const std::vector<std::pair<std::string, std::vector<bytes>>> photos = {
      {"no-audio-stream.jpg", join({{fpxContents({{"/Audio Info", size}})}, data})},
      {"too-many-entries.jpg", join({{tooMany}, data})},
      {"no-nul.jpg", join({{noNul}, data})},
      {"index-past-list.jpg",
       join({{fpxContents({{"/Audio Stream", size}})}, fpxStreamData(9, fpxAudioStream(wav), 60)})},
      {"not-riff.jpg",
       join({{fpxContents({{"/Audio Stream", size}})}, fpxStreamData(0, notRiff, 60)})},
      {"icc-mpf-only.jpg", {iccPayload(), mpfPayload(), iccPayload(), mpfPayload(), iccPayload()}},
      {"few-no-audio.jpg", {iccPayload(), fpxContents({{"/Audio Info", size}}), data[0]}},
      {"few-hostile.jpg", {tooMany, data[0], data[1]}},
  };
  std::vector<std::string> args;
  for (const auto& p : photos) {
    photo(dir / p.first, p.second);
    args.push_back(p.first);
  }
  const toolResult r = run(args);
  const std::string no = " holds no audio: its fifth APP2 segment is ";
  EXPECT_EQ(r.out,
            "JFIF file no-audio-stream.jpg:\n"
            "chronel: no-audio-stream.jpg" +
                no +
                "FPXR data, not a RIFF stream.\n"
                "JFIF file too-many-entries.jpg:\n"
                "chronel: too-many-entries.jpg" +
                no +
                "FPXR data, not a RIFF stream.\n"
                "JFIF file no-nul.jpg:\n"
                "chronel: no-nul.jpg" +
                no +
                "FPXR data, not a RIFF stream.\n"
                "JFIF file index-past-list.jpg:\n"
                "chronel: index-past-list.jpg" +
                no +
                "FPXR data, not a RIFF stream.\n"
                "JFIF file not-riff.jpg:\n"
                "chronel: not-riff.jpg" +
                no +
                "FPXR data, not a RIFF stream.\n"
                "JFIF file icc-mpf-only.jpg:\n"
                "chronel: icc-mpf-only.jpg" +
                no +
                "ICC_PROFILE data, not a RIFF stream.\n"
                "JFIF file few-no-audio.jpg:\n"
                "JFIF file few-hostile.jpg:\n");
  EXPECT_EQ(r.status, 0);
  for (const auto& p : photos) EXPECT_FALSE(exists(dir / (p.first + ".wav"))) << p.first;
}

// Where the fixed positions give a RIFF stream, sonlift writes what it
// always wrote: every byte from those positions on, whatever the contents
// list says of the stream's size.
TEST_F(SonliftFlashPix, TheFixedPositionsComeFirst) {
  const bytes wav = wavClip(100, 6);
  const bytes stream = fpxAudioStream(wav);
  std::vector<bytes> app2 = {fpxContents({{"/Audio Info", 16}, {"/Audio Stream", 28 + 50}}),
                             fpxData(0, 0, bytes(16, 'i')), fpxFree(10), fpxFree(10)};
  const std::vector<bytes> data = fpxStreamData(1, stream, 80);
  app2.insert(app2.end(), data.begin(), data.end());
  photo(dir / "x.jpg", app2);
  const toolResult r = run({"x.jpg"});
  EXPECT_EQ(r.out, "JFIF file x.jpg:\nRIFF file x.jpg.wav\n");
  EXPECT_TRUE(readFile(dir / "x.jpg.wav") == str(wav));
}

// exiftool -b -AudioStream reads the same clip as sonlift.
TEST_F(SonliftFlashPix, TheClipsMatchExiftool) {
  const std::string exiftool = findProgram("exiftool");
  if (exiftool.empty()) GTEST_SKIP() << "exiftool (libimage-exiftool-perl) is not installed";
  photo(dir / "icc-mpf.jpg", afterIccAndMpf(wavClip(100000, 7)));
  photo(dir / "interleaved.jpg", interleaved(wavClip(5000, 8)));
  const toolResult r = run({"icc-mpf.jpg", "interleaved.jpg"});
  for (const std::string name : {"icc-mpf.jpg", "interleaved.jpg"}) {
    const toolResult e = runTool(exiftool, {"-b", "-AudioStream", name}, {{}, dir.path()});
    EXPECT_EQ(e.status, 0) << name << ": " << e.err;
    EXPECT_GT(e.out.size(), 12u) << name;
    EXPECT_TRUE(e.out == readFile(dir / (name + ".wav"))) << name;
  }
}

}  // namespace
