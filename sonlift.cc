// sonlift: copies the audio stream that a photograph carries in its APP2
// segments (the fifth from position 45, every later one from position 17)
// into a file named like the photograph with ".wav" appended.
//
// When the stream there does not begin with a RIFF WAVE header (other APP2
// data, ICC profiles or multi-picture directories, came first), or the
// photograph has four APP2 segments or fewer, the clip is looked for as a
// FlashPix stream (flashpix.h), and written the same way.  Without a clip
// there, the photograph holds no audio: no file is written, and with five
// APP2 segments or more the report line says what the fifth holds.
//
// The stream is written through a fileReplacement: a temporary file beside
// the photograph, renamed onto the output name only when it is complete.  A
// failed create, write, close or rename ends the photograph with a report
// line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "byteReader.h"
#include "exceptions.h"
#include "fileReplacement.h"
#include "flashpix.h"
#include "jfif.h"
#include "lineOutput.h"
#include "toolDriver.h"

using std::string;

namespace {

const char* const writeFailure = " unable to write audio of";
const char* const renameFailure = " unable to rename audio into place for";

// Bytes before the audio: segment header (and, in the first audio segment,
// 28 more bytes), counted from the segment's 0xFF byte.
constexpr uint32_t firstAudioSkip = 45;
constexpr uint32_t laterAudioSkip = 17;

// What an APP2 segment that is no audio holds, from the identifier that
// follows its length field: the kinds cameras write by name, another
// printable identifier quoted, else unknown data.
string segmentKind(jfif& file, const jfif_marker& m) {
  const byteReader r = file.segment(m);
  // Up to 15 printable characters, ended by a NUL or the segment's end.
  string id;
  for (uint64_t pos = 0;; ++pos) {
    uint8_t c;
    if (!r.u8At(pos, c) || c == 0) break;
    if (c < 0x20 || c > 0x7E || id.size() == 15) return "unknown data";
    id += static_cast<char>(c);
  }
  if (id == "ICC_PROFILE" || id == "MPF" || id == "FPXR") return id + " data";
  if (id.empty()) return "unknown data";
  return "\"" + id + "\" data";
}

misc_error noAudio(jfif& file, const jfif_marker& first) {
  const string text =
      " holds no audio: its fifth APP2 segment is " + segmentKind(file, first) + ", not a RIFF stream";
  return misc_error("", text.c_str());
}

misc_error incompleteClip(const fpxClip& clip) {
  const string text = " holds an incomplete sound clip: " + std::to_string(clip.missing()) +
                      " of its " + std::to_string(clip.size) + " bytes are missing";
  return misc_error("", text.c_str());
}

// Announces the photograph's clip and starts its output file.
void startClip(const jfif& jfif_file, fileReplacement& out) {
  const string name = string(jfif_file.name()) + ".wav";
  stdoutLines().text("RIFF file ").name(name).endLine();
  out.create(name);
}

// The clip as a FlashPix stream, for a photograph whose fixed positions
// give none.  Written like theirs; then damage that ended the marker list,
// or else bytes missing from the stream, are reported.  Without a clip,
// throws `none` when there is one, else writes nothing.
void extractFlashPix(jfif& jfif_file, const std::optional<misc_error>& none) {
  const fpxClip clip = findFlashPixClip(jfif_file);
  if (!clip.found()) {
    if (none) throw *none;
    return;
  }
  fileReplacement out(writeFailure, renameFailure);
  startClip(jfif_file, out);
  for (const fpxPiece& p : clip.pieces) out.write(p.data, p.size);
  out.keep();
  if (clip.damage) throw *clip.damage;
  if (clip.missing()) throw incompleteClip(clip);
}

// Walks the marker list and writes the audio of the APP2 segments from the
// fifth on.  The audio is held back until its first 12 bytes show a RIFF
// WAVE header; only then is the output announced and created.  When the
// container library reports damage after the output was created, the audio
// extracted so far is kept under the output name and the damage is then
// reported; should keeping it fail, that failure is reported instead (one
// report line per photograph).  Without a RIFF header at the fixed
// positions, at the end of the list or at damage, the clip is looked for
// as a FlashPix stream.
void extractAudio(jfif& jfif_file) {
  int app2count = 0;
  fileReplacement out(writeFailure, renameFailure);
  jfif_marker m, first;
  std::vector<std::pair<const unsigned char*, size_t>> held;  // audio before the header is known
  unsigned char head[riffHeaderSize];
  size_t headBytes = 0;
  bool riff = false;
  jfif_file.rewind();
  for (;;) {
    try {
      m = jfif_file.nextMarker(jfif_marker::jm_nada);
    } catch (const misc_error&) {
      if (out.created()) out.keep();
      else extractFlashPix(jfif_file, std::nullopt);  // a clip before the damage
      throw;
    }
    if (m == jfif_marker::null) break;
    if (m.type() != jfif_marker::jm_app2) continue;
    if (++app2count <= 4) continue;
    if (app2count == 5) first = m;
    const uint32_t skip = app2count == 5 ? firstAudioSkip : laterAudioSkip;
    if (m.len() <= skip) continue;  // too short: no audio
    const size_t n = m.len() - skip;
    const unsigned char* audio = nullptr;
    jfif_file.segment(m).viewAt(skip - jfif_marker::headerSize, n, audio);
    if (riff) {
      out.write(audio, n);
      continue;
    }
    held.emplace_back(audio, n);
    const size_t take = std::min(n, riffHeaderSize - headBytes);
    std::memcpy(head + headBytes, audio, take);
    headBytes += take;
    if (headBytes < riffHeaderSize) continue;
    if (!isRiffWave(head)) return extractFlashPix(jfif_file, noAudio(jfif_file, first));
    riff = true;
    startClip(jfif_file, out);
    for (const auto& h : held) out.write(h.first, h.second);
    held.clear();
  }
  if (!riff) {
    std::optional<misc_error> none;
    if (app2count >= 5) none = noAudio(jfif_file, first);
    return extractFlashPix(jfif_file, none);
  }
  if (out.created()) out.keep();
}

void liftAudio(const char* name) {
  jfif jfif_file(name);
  requireJpegOrExif(jfif_file);
  jfif_file.buildMarkerList(0);
  stdoutLines().text("JFIF file ").name(jfif_file.name()).text(":").endLine();
  extractAudio(jfif_file);
}

}  // namespace

int main(int argc, char** argv) {
  return toolMain([&] {
    if (argc < 2) usageLine("Usage: sonlift p0000001.jpg [ p0000002.jpg ... ]");
    forEachFile(argv + 1, argv + argc, liftAudio);
  });
}
