// glossel: prints the text of every comment (COM) segment of each JPEG/EXIF
// file named, one comment per line, in file order.
#include "jfif.h"
#include "lineOutput.h"
#include "toolDriver.h"

namespace {

// The comment text: the segment's payload, written as the bytes that are
// stored (NUL bytes and line breaks included).  A segment too short to have
// text (a length field below 2, which the marker scanner already reports as
// damage) prints nothing: no byte outside the segment is ever read.
void printComment(jfif& file, const jfif_marker& m) {
  const byteReader text = file.segment(m);
  const unsigned char* bytes = nullptr;
  text.viewAt(0, text.size(), bytes);
  stdoutLines().content(bytes, text.size()).endLine();
}

void printComments(const char* name) {
  jfif test(name);
  if (test.err()) {
    openFailureLine(test);  // skipped after its message, without a report line
    return;
  }
  requireJpegOrExif(test);
  test.buildMarkerList(0);
  stdoutLines().name(test.name()).text(":").endLine();
  test.rewind();
  jfif_marker m;
  while ((m = test.nextMarker(jfif_marker::jm_com)) != jfif_marker::null) printComment(test, m);
}

}  // namespace

int main(int argc, char** argv) {
  return toolMain([&] {
    if (argc < 2) usageLine("Usage: glossel p0000001.jpg [ p0000002.jpg ... ]");
    forEachFile(argv + 1, argv + argc, printComments);
  });
}
