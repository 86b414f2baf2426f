// flashpix: finds the sound clip that a photograph carries as a FlashPix
// stream in its FPXR APP2 segments, wherever those segments sit.
//
// FPXR segments hold a contents list (the names and sizes of the streams,
// numbered from 0) and stream data (a piece of one stream, by its number and
// its offset in the stream).  The clip is the stream whose name, after the
// last "/", begins "Audio Stream": 28 bytes of stream header, then a RIFF
// WAVE stream.  Segments of other streams, ICC profiles and MPF directories
// may stand between and before its segments.
//
// The clip is returned as pieces of the segments themselves, in stream
// order: nothing is copied, and the pieces are good while the photograph's
// jfif lives.  Every count, size, index and offset read from
// the segments is checked before use; the bookkeeping is one small record
// per segment of the clip that adds bytes to it.
#ifndef ORVANE_FLASHPIX_H
#define ORVANE_FLASHPIX_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "byteReader.h"
#include "exceptions.h"
#include "jfif.h"
#include "jfif_marker.h"

// A RIFF WAVE stream begins with "RIFF", its length in four bytes, "WAVE":
// whether the riffHeaderSize bytes at head are such a beginning.
constexpr size_t riffHeaderSize = 12;
bool isRiffWave(const unsigned char* head);

// Why a photograph's FlashPix segments give no clip.
enum class fpxAbsence {
  none,             // the clip was found
  noContents,       // no contents list
  damagedContents,  // the last contents list is damaged: it lists nothing
  noAudioStream,    // the list names no "Audio Stream" stream
  noData,           // the stream has no data in any segment
  notRiff           // the stream, after its header, is no RIFF WAVE stream
};

struct fpxPiece {
  const unsigned char* data;
  size_t size;
};

struct fpxClip {
  fpxAbsence why = fpxAbsence::noContents;
  std::vector<fpxPiece> pieces;  // the clip in order, from its RIFF header on
  uint64_t size = 0;             // the clip's bytes by the contents list
  uint64_t present = 0;          // the bytes the pieces hold (at most size)
  // The damage that ended the marker list, when the walk met one: the
  // segments before it were read.
  std::optional<misc_error> damage;

  bool found() const { return why == fpxAbsence::none; }
  uint64_t missing() const { return size - present; }
};

// Reads APP2 segments one after the other, in file order, and keeps track
// of the clip's stream.
class flashpixReader {
 public:
  // The payload of one APP2 segment (jfif::segment; any: those that are no
  // FPXR segment are passed over).
  void add(const byteReader& payload);
  // The clip from the segments added, or why there is none.
  fpxClip finish();

 private:
  struct span {
    const unsigned char* data;
    uint32_t start;  // position in the stream
    uint32_t size;
  };
  void contentsList(const byteReader& payload);
  void streamData(const byteReader& payload);

  fpxAbsence fp_list = fpxAbsence::noContents;  // none: a list names the stream
  uint16_t fp_index = 0;                        // the stream's number in it
  uint32_t fp_size = 0;                         // its size there
  bool fp_begun = false;                        // a segment of the stream was seen
  std::vector<span> fp_spans;                   // its data, in file order
  uint64_t fp_held = 0;   // the spans hold the stream from 0 up to here, at least
  bool fp_sorted = true;  // the spans are in stream order
};

// The clip of the photograph's APP2 segments, over its marker list (which
// must be built).  Damage that ends the list is not thrown: the clip is made
// of the segments before it, and the damage is returned with it.
fpxClip findFlashPixClip(jfif& file);

#endif
