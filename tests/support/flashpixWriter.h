// Test support: the payloads of FlashPix (FPXR) APP2 segments, as cameras
// write them to carry streams such as a sound clip: a contents list that
// names and sizes the streams, stream data by stream number and offset, and
// free segments.  Payloads go into a photograph with
// jpegWriter::segment(0xE2, payload); the writer takes any values, so tests
// can build damaged and hostile segments too.
#ifndef ORVANE_TESTS_FLASHPIXWRITER_H
#define ORVANE_TESTS_FLASHPIXWRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jpegWriter.h"

namespace testjpeg {

// The size that marks a storage (a folder of streams) in a contents list.
constexpr uint32_t fpxStorage = 0xFFFFFFFF;
// Index of free segments.
constexpr uint16_t fpxFreeIndex = 255;
// The largest payload of one segment, and the data it holds after the
// stream data header.
constexpr size_t fpxLargestPayload = 65533;
constexpr size_t fpxLargestData = fpxLargestPayload - 13;

struct fpxEntry {
  std::string name;  // ASCII, written as UTF-16LE: "/Audio Stream"
  uint32_t size;     // the stream's size in bytes, or fpxStorage
};

// A contents list; a storage entry gets a 16-byte class id.
bytes fpxContents(const std::vector<fpxEntry>& entries);
// Data of stream `index` that lies at `offset` in the stream.
bytes fpxData(uint16_t index, uint32_t offset, const bytes& data);
// A free segment with n filler bytes.
bytes fpxFree(size_t n);
// The stream cut into data payloads of at most `each` bytes, at their offsets.
std::vector<bytes> fpxStreamData(uint16_t index, const bytes& stream, size_t each = fpxLargestData);

// The stream of a sound clip: 28 bytes of stream header, then the RIFF
// WAVE bytes.
bytes fpxAudioStream(const bytes& wav);
// A RIFF WAVE stream of 8-bit mono PCM at 8 kHz: `samples` sample bytes
// whose values depend on seed.
bytes wavClip(size_t samples, unsigned seed = 1);

// Adds one APP2 segment per payload.
void fpxSegments(jpegWriter& w, const std::vector<bytes>& payloads);

}  // namespace testjpeg

#endif
