// segdump: lists every marker segment of each JPEG/EXIF file named.
#include <cstring>
#include <iostream>

#include "exceptions.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegHeader.h"

using std::cerr;
using std::cout;
using std::endl;

int main(int argc, char** argv) {
  if (argc < 2) cerr << "Usage: segdump p0000001.jpg [ p0000002.jpg ... ]" << endl;

  for (int i = 1; i < argc; ++i) {
    try {
      jfif test(argv[i]);
      if (test.err())
        cout << "Unable to open file " << test.name() << ": " << std::strerror(test.err())
             << endl;
      jpegHeader j1(test);
      exifHeader e1(test);
      if (!j1.wellFormed() && !e1.wellFormed()) throw misc_error("", " is not a JPEG or EXIF file");
      test.buildMarkerList(0);
      cout << "JFIF file " << test.name() << ":" << endl;
      test.rewind();
      jfif_marker m;
      while ((m = test.nextMarker(jfif_marker::jm_nada)) != jfif_marker::null)
        cout << "  marker type " << m.name() << ", len = " << m.len()
             << ", offset = " << m.offset() << ", addr = " << static_cast<const void*>(m.data())
             << endl;
    } catch (const misc_error& me) {
      cerr << "chronel:" << me.msg1() << " " << argv[i] << me.msg2() << "." << endl;
    }
  }
  return 0;
}
