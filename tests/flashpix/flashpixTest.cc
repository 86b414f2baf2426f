// The FlashPix reader of sonlift: which stream is the clip, where its bytes
// come from, and what hostile contents lists and offsets give.  Photographs
// are written with the test writer and read through the marker list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flashpix.h"
#include "flashpixWriter.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

// What the reader returned, with the clip's pieces joined.
struct result {
  fpxAbsence why;
  std::string clip;
  uint64_t size, present;
  size_t pieces;
  std::string damage;  // the report texts of the damage, if any
};

std::string str(const bytes& b) { return std::string(b.begin(), b.end()); }

bytes iccPayload() {
  bytes b = toBytes(std::string("ICC_PROFILE\0\1\1", 14));
  b.resize(b.size() + 300, 0x42);
  return b;
}

bytes mpfPayload() {
  bytes b = toBytes(std::string("MPF\0MM\0*\0\0\0\x08", 12));
  b.resize(b.size() + 80, 0);
  return b;
}

// The payloads of a clip's stream, numbered index, cut into pieces of at
// most `each` bytes.
std::vector<bytes> audioData(uint16_t index, const bytes& wav, size_t each) {
  return fpxStreamData(index, fpxAudioStream(wav), each);
}

uint32_t streamSize(const bytes& wav) { return static_cast<uint32_t>(wav.size() + 28); }

class FlashPix : public ::testing::Test {
 protected:
  // SOI, EXIF, then the APP2 payloads, then the image.
  result read(const std::vector<bytes>& app2, bool cut = false) {
    jpegWriter w;
    w.soi().app1Exif({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    fpxSegments(w, app2);
    if (cut)
      w.segmentWithLength(0xE2, 60000, toBytes("runs past the end"));
    else
      w.frameHeaders().sos().raw({0x12, 0x34}).eoi();
    return read(w);
  }
  result read(const jpegWriter& w) {
    const std::string path = dir / "x.jpg";
    w.save(path);
    jfif file(path.c_str());
    file.buildMarkerList(0);
    const fpxClip c = findFlashPixClip(file);
    result r{c.why, "", c.size, c.present, c.pieces.size(), ""};
    for (const fpxPiece& p : c.pieces) r.clip.append(reinterpret_cast<const char*>(p.data), p.size);
    if (c.damage) r.damage = std::string(c.damage->msg1()) + "|" + c.damage->msg2();
    return r;
  }
  tempDir dir;
};

std::vector<bytes> join(std::initializer_list<std::vector<bytes>> parts) {
  std::vector<bytes> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST_F(FlashPix, TheClipIsFoundAfterIccAndMpfSegments) {
  const bytes wav = wavClip(150000);
  const bytes info(40, 'i');
  const result r =
      read(join({{iccPayload(), mpfPayload(),
                  fpxContents({{"/Audio Info", 40}, {"/Audio Stream", streamSize(wav)}}),
                  fpxData(0, 0, info)},
                 audioData(1, wav, fpxLargestData)}));
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == str(wav));
  EXPECT_EQ(r.size, wav.size());
  EXPECT_EQ(r.present, wav.size());
  EXPECT_EQ(r.pieces, 3u);  // no copy: one piece per segment
  EXPECT_EQ(r.damage, "");
}

// Segments of other streams, free and reserved segments and other APP2
// data stand between the clip's segments; the clip is found by its name's
// last part, in a storage, whatever its number.
TEST_F(FlashPix, InterleavedSegmentsOfOtherStreamsAreLeftOut) {
  const bytes wav = wavClip(3000, 2);
  const bytes other(5000, 'o');
  const std::vector<bytes> audio = audioData(3, wav, 700);
  const std::vector<bytes> rest = fpxStreamData(2, other, 900);
  bytes reserved = toBytes(std::string("FPXR\0\0\3", 7));
  reserved.resize(40, 0x33);
  std::vector<bytes> app2 = {fpxContents({{"/Sound", fpxStorage},
                                          {"/Sound/Audio Info", 12},
                                          {"/Sound/Other Stream", 5000},
                                          {"/Sound/Audio Stream", streamSize(wav)}}),
                             fpxData(1, 0, bytes(12, 'i'))};
  for (size_t k = 0; k < audio.size() || k < rest.size(); ++k) {
    if (k < rest.size()) app2.push_back(rest[k]);
    if (k == 1) app2.push_back(fpxFree(100));
    if (k == 2) app2.push_back(reserved);
    if (k == 3) app2.push_back(iccPayload());
    if (k < audio.size()) app2.push_back(audio[k]);
  }
  const result r = read(app2);
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == str(wav));
  EXPECT_EQ(r.present, r.size);
}

// The first segment starts the stream whatever offset it gives; later ones
// go to their offsets: repeated data is skipped, and segments out of order
// are put in order.
TEST_F(FlashPix, SegmentsArePlacedAtTheirOffsets) {
  const bytes wav = wavClip(2000, 3);
  const bytes s = fpxAudioStream(wav);
  auto part = [&](size_t from, size_t to) {
    return bytes(s.begin() + static_cast<std::ptrdiff_t>(from),
                 s.begin() + static_cast<std::ptrdiff_t>(to));
  };
  const result r =
      read({fpxContents({{"/Audio Stream", streamSize(wav)}}), fpxData(0, 0x7FFFFF00, part(0, 500)),
            fpxData(0, 480, part(480, 900)),  // 20 bytes again
            fpxData(0, 100, part(100, 900)),  // again
            fpxData(0, 1500, part(1500, s.size())), fpxData(0, 900, part(900, 1500))});  // late
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == str(wav));
  EXPECT_EQ(r.present, wav.size());
}

// A stream shorter than its listed size gives what it holds up to its
// first gap and tells how much is missing; data past the listed size is
// no part of it.
TEST_F(FlashPix, TheListedSizeBoundsTheClip) {
  const bytes wav = wavClip(2000, 4);
  const std::vector<bytes> data = audioData(0, wav, 500);  // 5 segments
  const std::string whole = str(fpxAudioStream(wav));
  result r = read({fpxContents({{"/Audio Stream", streamSize(wav)}}), data[0], data[1], data[2]});
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == whole.substr(28, 1500 - 28));
  EXPECT_EQ(r.size, wav.size());
  EXPECT_EQ(r.present, 1500u - 28);

  r = read({fpxContents({{"/Audio Stream", streamSize(wav)}}), data[0], data[1], data[3], data[4]});
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_EQ(r.present, 1000u - 28);  // the stream ends at the gap
  EXPECT_TRUE(r.clip == whole.substr(28, 1000 - 28));

  r = read(join({{fpxContents({{"/Audio Stream", 700}})}, data}));
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_EQ(r.size, 700u - 28);
  EXPECT_EQ(r.present, 700u - 28);
  EXPECT_TRUE(r.clip == whole.substr(28, 700 - 28));
}

// A later contents list replaces the earlier one, and the data held for it.
TEST_F(FlashPix, ASecondContentsListReplacesTheFirst) {
  const bytes first = wavClip(300, 5), second = wavClip(400, 6);
  const result r =
      read(join({{fpxContents({{"/Audio Stream", streamSize(first)}})},
                 audioData(0, first, 100),
                 {fpxContents({{"/Audio Info", 10}, {"/Audio Stream", streamSize(second)}})},
                 audioData(1, second, 150),
                 audioData(0, first, 100)}));
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == str(second));
}

TEST_F(FlashPix, WithoutAClipTheReaderSaysWhy) {
  const bytes wav = wavClip(100, 7);
  const uint32_t size = streamSize(wav);
  struct layout {
    const char* what;
    std::vector<bytes> app2;
    fpxAbsence why;
  };
  std::vector<fpxEntry> numbered255(255, {"/Other", 10});
  numbered255.push_back({"/Audio Stream", size});
  bytes notRiff = fpxAudioStream(wav);
  notRiff[28 + 8] = 'X';
  const std::vector<layout> layouts = {
      {"no FPXR segment", {iccPayload(), mpfPayload()}, fpxAbsence::noContents},
      {"data before any list",
       join({audioData(0, wav, 50), {fpxContents({{"/Audio Stream", size}})}}), fpxAbsence::noData},
      {"data without a list", audioData(0, wav, 50), fpxAbsence::noContents},
      {"no audio stream",
       join({{fpxContents({{"/Audio Info", size}, {"/Audio Streem", size}})},
             audioData(0, wav, 50),
             audioData(1, wav, 50)}),
       fpxAbsence::noAudioStream},
      {"the name's last part is another",
       join({{fpxContents({{"/Audio Stream/Info", size}})}, audioData(0, wav, 50)}),
       fpxAbsence::noAudioStream},
      {"a storage of that name",
       {fpxContents({{"/Audio Stream", fpxStorage}})},
       fpxAbsence::noAudioStream},
      {"no data", {fpxContents({{"/Audio Stream", size}}), fpxFree(50)}, fpxAbsence::noData},
      {"data of index 255", join({{fpxContents(numbered255)}, audioData(255, wav, 50)}),
       fpxAbsence::noData},
      {"not RIFF WAVE",
       {fpxContents({{"/Audio Stream", size}}), fpxData(0, 0, notRiff)},
       fpxAbsence::notRiff},
      {"only the header",
       {fpxContents({{"/Audio Stream", size}}), fpxData(0, 0, bytes(38, 'h'))},
       fpxAbsence::notRiff},
      {"listed too short for a RIFF header",
       join({{fpxContents({{"/Audio Stream", 39}})}, audioData(0, wav, 50)}), fpxAbsence::notRiff},
  };
  for (const layout& l : layouts) {
    const result r = read(l.app2);
    EXPECT_EQ(r.why, l.why) << l.what;
    EXPECT_EQ(r.clip, "") << l.what;
    EXPECT_EQ(r.size, 0u) << l.what;
  }
}

// Counts, sizes, numbers and offsets that lie: no clip, or a clip of the
// bytes present and nothing else.
TEST_F(FlashPix, HostileSegmentsGiveNoClipOrOnlyTheBytesPresent) {
  const bytes wav = wavClip(100, 8);
  const uint32_t size = streamSize(wav);
  const bytes list = fpxContents({{"/Audio Stream", size}});
  const bytes stream = fpxAudioStream(wav);
  auto withList = [&](bytes l) { return join({{l}, audioData(0, wav, 60)}); };
  auto changed = [&](bytes b, size_t at, std::initializer_list<uint8_t> v) {
    std::copy(v.begin(), v.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
  };
  bytes noNul = list;
  noNul.resize(noNul.size() - 2);  // the name runs to the segment's end
  bytes storageCut = fpxContents({{"/Audio Stream", size}, {"/Store", fpxStorage}});
  storageCut.resize(storageCut.size() - 1);  // class id one byte short
  struct layout {
    const char* what;
    std::vector<bytes> app2;
    fpxAbsence why;
    uint64_t size, present;
  };
  const std::vector<layout> layouts = {
      {"65535 entries in a short list", withList(changed(list, 7, {0xFF, 0xFF})),
       fpxAbsence::damagedContents, 0, 0},
      {"two entries, one there", withList(changed(list, 7, {0, 2})), fpxAbsence::damagedContents, 0,
       0},
      {"no entry count", withList(toBytes(std::string("FPXR\0\0\1\0", 8))),
       fpxAbsence::damagedContents, 0, 0},
      {"a name without its NUL", withList(noNul), fpxAbsence::damagedContents, 0, 0},
      {"a name without /", withList(changed(list, 14, {'A'})), fpxAbsence::damagedContents, 0, 0},
      {"a storage without its class id", withList(storageCut), fpxAbsence::damagedContents, 0, 0},
      {"a list of version 1", withList(changed(list, 5, {1})), fpxAbsence::noContents, 0, 0},
      {"an index past the list", join({{list}, audioData(7, wav, 60)}), fpxAbsence::noData, 0, 0},
      {"a data segment without its offset",
       {list, toBytes(std::string("FPXR\0\0\2\0\0\0", 10))},
       fpxAbsence::noData,
       0,
       0},
      {"4 GB listed", withList(changed(list, 9, {0xFF, 0xFF, 0xFF, 0xFE})), fpxAbsence::none,
       0xFFFFFFFEu - 28, wav.size()},
      {"an offset 4 GB out",
       {list, fpxData(0, 0, bytes(stream.begin(), stream.begin() + 60)),
        fpxData(0, 0xFFFFFFF0, bytes(1000, 'g'))},
       fpxAbsence::none,
       wav.size(),
       60 - 28},
  };
  for (const layout& l : layouts) {
    const result r = read(l.app2);
    EXPECT_EQ(r.why, l.why) << l.what;
    EXPECT_EQ(r.size, l.size) << l.what;
    EXPECT_EQ(r.present, l.present) << l.what;
    EXPECT_EQ(r.clip.size(), l.present) << l.what;
  }
}

// Damage after the clip ends the marker list: the clip is made of the
// segments before it, and the damage comes with it.
TEST_F(FlashPix, DamageAfterTheClipIsReturnedWithIt) {
  const bytes wav = wavClip(500, 9);
  const result r = read(
      join({{fpxContents({{"/Audio Stream", streamSize(wav)}})}, audioData(0, wav, 200)}), true);
  EXPECT_EQ(r.why, fpxAbsence::none);
  EXPECT_TRUE(r.clip == str(wav));
  EXPECT_NE(r.damage.find("runs past the end of the file"), std::string::npos) << r.damage;
}

}  // namespace
