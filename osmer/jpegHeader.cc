#include "jpegHeader.h"

jpegHeader::jpegHeader(jfif& file) {
  static const unsigned char soi[3] = {0xFF, 0xD8, 0xFF};
  file.image().ensure(sizeof soi);
  j_wellFormed = file.image().reader().startsWith(0, soi, sizeof soi);
}
