#include "flashpix.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Positions in an FPXR segment's payload (the bytes after the marker and
// the length field): "FPXR", NUL, version, type, then by type:
//   contents list (1): entry count (16 bits), entries;
//   stream data (2): stream number (16 bits), offset in the stream (32
//   bits), data.  Numbers are big-endian.
constexpr uint64_t versionAt = 5, typeAt = 6;
constexpr uint64_t countAt = 7, entriesAt = 9;
constexpr uint64_t indexAt = 7, offsetAt = 9, dataAt = 13;
constexpr uint8_t contentsType = 1, dataType = 2;

// An entry: size (32 bits; all ones for a storage), a default byte, the
// name in UTF-16LE from "/" to a NUL, and for a storage a 16-byte class id.
constexpr uint64_t entryNameAt = 5;
constexpr uint32_t storageSize = 0xFFFFFFFF;
constexpr uint64_t classIdSize = 16;

// Segments with this stream number are free space.
constexpr uint16_t freeIndex = 255;

// The clip's stream begins with a header of its own; the RIFF stream follows.
constexpr uint32_t streamHeaderSize = 28;

// Reads the entry name at pos (a UTF-16LE text that begins with "/" and
// ends with a NUL).  On success, end is the position after the NUL and
// audio tells whether the name's last part begins "Audio Stream".
bool readName(const byteReader& payload, uint64_t pos, uint64_t& end, bool& audio) {
  static const char wanted[] = "Audio Stream";
  constexpr size_t wantedLength = sizeof wanted - 1;
  byteReader le = payload;
  le.setBigEndian(false);
  uint16_t unit = 0;
  if (!le.u16At(pos, unit) || unit != '/') return false;
  size_t matched = 0;
  bool matching = true;
  for (;; pos += 2) {
    if (!le.u16At(pos, unit)) return false;  // no NUL inside the segment
    if (unit == 0) break;
    if (unit == '/') {
      matched = 0;
      matching = true;
    } else if (matching && matched < wantedLength) {
      if (unit == static_cast<unsigned char>(wanted[matched]))
        ++matched;
      else
        matching = false;
    }
  }
  end = pos + 2;
  audio = matching && matched == wantedLength;
  return true;
}

// The first n bytes of the pieces (which hold at least n), copied to out.
void firstBytes(const std::vector<fpxPiece>& pieces, unsigned char* out, size_t n) {
  for (const fpxPiece& p : pieces) {
    const size_t take = std::min(n, p.size);
    std::memcpy(out, p.data, take);
    out += take;
    n -= take;
    if (n == 0) return;
  }
}

}  // namespace

bool isRiffWave(const unsigned char* head) {
  return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

void flashpixReader::add(const byteReader& payload) {
  uint8_t version = 0, type = 0;
  if (!payload.startsWith(0, "FPXR", 5) || !payload.u8At(versionAt, version) || version != 0 ||
      !payload.u8At(typeAt, type))
    return;
  if (type == contentsType)
    contentsList(payload);
  else if (type == dataType)
    streamData(payload);
}

// A contents list replaces any earlier one, and with it whatever data of
// the earlier clip's stream was held.  A list whose entries do not all lie
// inside the segment lists nothing.
void flashpixReader::contentsList(const byteReader& payload) {
  fp_list = fpxAbsence::damagedContents;
  fp_begun = false;
  fp_spans.clear();
  fp_held = 0;
  fp_sorted = true;
  uint16_t count = 0;
  if (!payload.u16At(countAt, count)) return;
  bool found = false;
  uint64_t pos = entriesAt;
  for (uint32_t k = 0; k < count; ++k) {
    uint32_t size = 0;
    uint64_t end = 0;
    bool audio = false;
    if (!payload.u32At(pos, size) || !readName(payload, pos + entryNameAt, end, audio)) return;
    if (size == storageSize) {
      if (!payload.has(end, classIdSize)) return;
      end += classIdSize;
    } else if (audio && !found) {
      found = true;
      fp_index = static_cast<uint16_t>(k);
      fp_size = size;
    }
    pos = end;
  }
  fp_list = found ? fpxAbsence::none : fpxAbsence::noAudioStream;
}

// The first segment of the stream starts it, whatever offset it gives;
// later ones are placed at their offset.  Data past the listed size is
// dropped, and a segment whose data the stream already holds (writers
// repeat data) is not kept.
void flashpixReader::streamData(const byteReader& payload) {
  uint16_t index = 0;
  uint32_t offset = 0;
  if (!payload.u16At(indexAt, index) || !payload.u32At(offsetAt, offset)) return;
  if (fp_list != fpxAbsence::none || index != fp_index || index == freeIndex) return;
  const uint32_t start = fp_begun ? offset : 0;
  fp_begun = true;
  if (start >= fp_size || payload.size() == dataAt) return;
  const uint64_t size = std::min<uint64_t>(payload.size() - dataAt, fp_size - start);
  const uint64_t end = start + size;
  if (end <= fp_held) return;  // nothing new
  const unsigned char* data = nullptr;
  if (!payload.viewAt(dataAt, size, data)) return;
  fp_sorted = fp_sorted && (fp_spans.empty() || start >= fp_spans.back().start);
  if (start <= fp_held) fp_held = end;
  fp_spans.push_back({data, start, static_cast<uint32_t>(size)});
}

// The stream from its start up to the first gap, less its header.
fpxClip flashpixReader::finish() {
  fpxClip clip;
  clip.why = fp_list;
  if (clip.why != fpxAbsence::none) return clip;
  if (fp_spans.empty()) {
    clip.why = fpxAbsence::noData;
    return clip;
  }
  if (!fp_sorted)
    std::stable_sort(fp_spans.begin(), fp_spans.end(),
                     [](const span& a, const span& b) { return a.start < b.start; });
  uint64_t covered = 0;
  for (const span& s : fp_spans) {
    const uint64_t end = uint64_t(s.start) + s.size;
    if (s.start > covered) break;  // a gap: the stream ends here
    if (end <= covered) continue;
    if (end > streamHeaderSize) {
      const uint64_t from = std::max<uint64_t>(covered, streamHeaderSize);
      clip.pieces.push_back({s.data + (from - s.start), static_cast<size_t>(end - from)});
    }
    covered = end;
  }
  clip.size = fp_size > streamHeaderSize ? fp_size - streamHeaderSize : 0;
  clip.present = covered > streamHeaderSize ? covered - streamHeaderSize : 0;
  unsigned char head[riffHeaderSize] = {};
  if (clip.present >= riffHeaderSize) firstBytes(clip.pieces, head, riffHeaderSize);
  if (!isRiffWave(head)) {
    clip.why = fpxAbsence::notRiff;
    clip.pieces.clear();
    clip.size = clip.present = 0;
  }
  return clip;
}

fpxClip findFlashPixClip(jfif& file) {
  flashpixReader reader;
  std::optional<misc_error> damage;
  file.rewind();
  try {
    jfif_marker m;
    while ((m = file.nextMarker(jfif_marker::jm_app2)) != jfif_marker::null) reader.add(file.segment(m));
  } catch (const misc_error& e) {
    damage = e;
  }
  fpxClip clip = reader.finish();
  clip.damage = std::move(damage);
  return clip;
}
