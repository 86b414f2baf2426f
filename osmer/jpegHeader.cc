#include "jpegHeader.h"

jpegHeader::jpegHeader(jfif& file) {
  static const unsigned char soi[3] = {0xFF, jfif_marker::jm_soi, 0xFF};
  j_wellFormed = file.image().reader().startsWith(0, soi, sizeof soi);
}
