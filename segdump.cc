// segdump: lists every marker segment of each JPEG/EXIF file named.
#include "jfif.h"
#include "lineOutput.h"
#include "toolDriver.h"

namespace {

void listSegments(const char* name) {
  jfif test(name);
  if (test.err()) openFailureLine(test);  // and on: the checks then fail
  requireJpegOrExif(test);
  test.buildMarkerList(0);
  lineOutput& out = stdoutLines();
  out.text("JFIF file ").name(test.name()).text(":").endLine();
  test.rewind();
  jfif_marker m;
  while ((m = test.nextMarker(jfif_marker::jm_nada)) != jfif_marker::null)
    out.text("  marker type ")
        .text(m.name())
        .text(", len = ")
        .number(m.len())
        .text(", offset = ")
        .number(m.offset())
        .text(", addr = ")
        .pointer(m.data())
        .endLine();
}

}  // namespace

int main(int argc, char** argv) {
  return toolMain([&] {
    if (argc < 2) usageLine("Usage: segdump p0000001.jpg [ p0000002.jpg ... ]");
    forEachFile(argv + 1, argv + argc, listSegments);
  });
}
