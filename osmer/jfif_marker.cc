#include "jfif_marker.h"

const jfif_marker jfif_marker::null;

const char* jfif_marker::name(type_t type) {
  static const char* const codes[64] = {
      "SOF0",  "SOF1",  "SOF2",  "SOF3",  "DHT",   "SOF5",  "SOF6",  "SOF7",
      "JPG",   "SOF9",  "SOF10", "SOF11", "DAC",   "SOF13", "SOF14", "SOF15",
      "RST0",  "RST1",  "RST2",  "RST3",  "RST4",  "RST5",  "RST6",  "RST7",
      "SOI",   "EOI",   "SOS",   "DQT",   "DNL",   "DRI",   "DHP",   "EXP",
      "APP0",  "APP1",  "APP2",  "APP3",  "APP4",  "APP5",  "APP6",  "APP7",
      "APP8",  "APP9",  "APP10", "APP11", "APP12", "APP13", "APP14", "APP15",
      "JPG0",  "JPG1",  "JPG2",  "JPG3",  "JPG4",  "JPG5",  "JPG6",  "JPG7",
      "JPG8",  "JPG9",  "JPG10", "JPG11", "JPG12", "JPG13", "COM",   "?"};
  if (type >= jm_sof0 && type <= jm_com) return codes[type - jm_sof0];
  switch (type) {
    case jm_tem: return "TEM";
    case jm_nada: return "NADA";
    case jm_eof: return "EOF";
    default: return "UNKNOWN";
  }
}
