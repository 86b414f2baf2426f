// jfif_marker: one marker segment of a JPEG file, as a small value record.
//
// data() points at the segment's 0xFF byte in the file image held by its
// jfif; len() counts the segment from that byte (2 + its length field, or 2
// for a marker without one); offset() is the file position of that byte.
// The segment's bytes are loaded once buildMarkerList has listed it (the
// header checks' walk loads only what they read).
#ifndef ORVANE_OSMER_JFIF_MARKER_H
#define ORVANE_OSMER_JFIF_MARKER_H

#include <sys/types.h>

#include <cstdint>

#include "orvaneExport.h"

class ORVANE_EXPORT jfif_marker {
 public:
  enum type_t : int32_t {
    jm_tem = 1,
    jm_sof0 = 192, jm_sof1, jm_sof2, jm_sof3,
    jm_dht = 196,
    jm_sof5 = 197, jm_sof6, jm_sof7,
    jm_jpg = 200,
    jm_sof9 = 201, jm_sof10, jm_sof11,
    jm_dac = 204,
    jm_sof13 = 205, jm_sof14, jm_sof15,
    jm_rst0 = 208, jm_rst1, jm_rst2, jm_rst3, jm_rst4, jm_rst5, jm_rst6, jm_rst7,
    jm_soi = 216, jm_eoi, jm_sos, jm_dqt, jm_dnl, jm_dri, jm_dhp, jm_exp,
    jm_app0 = 224, jm_app1, jm_app2, jm_app3, jm_app4, jm_app5, jm_app6, jm_app7,
    jm_app8, jm_app9, jm_app10, jm_app11, jm_app12, jm_app13, jm_app14, jm_app15,
    jm_jpg0 = 240,
    jm_jpg13 = 253,
    jm_com = 254,
    jm_nada = 256,
    jm_eof = 257
  };

  jfif_marker() = default;
  jfif_marker(type_t type, uint32_t len, off_t offset, const unsigned char* data)
      : jm_type(type), jm_len(len), jm_offset(offset), jm_data(data) {}

  type_t type() const { return jm_type; }
  uint32_t len() const { return jm_len; }
  off_t offset() const { return jm_offset; }
  const unsigned char* data() const { return jm_data; }
  const char* name() const { return name(jm_type); }
  // The segment's bytes after its marker and length field, and how many
  // there are (none for a marker without a length field).
  const unsigned char* payload() const { return jm_data + headerSize; }
  uint32_t payloadSize() const { return jm_len > headerSize ? jm_len - headerSize : 0; }
  static constexpr uint32_t headerSize = 4;

  // The upper-case mnemonic of a marker type ("SOI", "APP1", "RST3", ...).
  static const char* name(type_t type);

  bool operator==(const jfif_marker& o) const {
    return jm_type == o.jm_type && jm_len == o.jm_len && jm_offset == o.jm_offset &&
           jm_data == o.jm_data;
  }
  bool operator!=(const jfif_marker& o) const { return !(*this == o); }

  // Returned by jfif::nextMarker when no marker is left.
  static const jfif_marker null;

 private:
  type_t jm_type = jm_nada;
  uint32_t jm_len = 0;
  off_t jm_offset = 0;
  const unsigned char* jm_data = nullptr;
};

#endif
