// glossel: prints the text of every comment (COM) segment of each JPEG/EXIF
// file named, one comment per line, in file order.
#include <cstring>
#include <iostream>

#include "exceptions.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegHeader.h"

using std::cerr;
using std::cout;
using std::endl;

namespace {

// The comment text: the segment after its marker and length bytes, written
// as the bytes that are stored (NUL bytes and line breaks included).  A
// segment too short to have text (a length field below 2, which the marker
// scanner already reports as damage) prints nothing: no byte outside the
// segment is ever read.
void printComment(const jfif_marker& m) {
  if (m.len() > 4)
    cout.write(reinterpret_cast<const char*>(m.data()) + 4,
               static_cast<std::streamsize>(m.len() - 4));
  cout << endl;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) cerr << "Usage: glossel p0000001.jpg [ p0000002.jpg ... ]" << endl;

  for (int i = 1; i < argc; ++i) {
    try {
      jfif test(argv[i]);
      if (test.err()) {
        // Skipped after its message, without a report line.
        cout << "Unable to open file " << test.name() << ": " << std::strerror(test.err())
             << endl;
        continue;
      }
      jpegHeader j1(test);
      exifHeader e1(test);
      if (!j1.wellFormed() && !e1.wellFormed()) throw misc_error("", " is not a JPEG or EXIF file");
      test.buildMarkerList(0);
      cout << test.name() << ":" << endl;
      test.rewind();
      jfif_marker m;
      while ((m = test.nextMarker(jfif_marker::jm_com)) != jfif_marker::null) printComment(m);
    } catch (const misc_error& me) {
      cerr << "chronel:" << me.msg1() << " " << argv[i] << me.msg2() << "." << endl;
    }
  }
  return 0;
}
