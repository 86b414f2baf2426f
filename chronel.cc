// chronel: prints each photograph's capture time, sets its modification
// time to it (-m), or writes all times as a PHP array (-p) or as JSON Lines
// (-j); -z reads the time in the camera's own UTC offset, -f falls back to
// the other EXIF dates where DateTimeOriginal is missing.
#include <unistd.h>

#include <memory>
#include <string>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "fileTimes.h"
#include "jfif.h"
#include "lookAhead.h"
#include "timeOutput.h"
#include "toolDriver.h"
#include "util.h"

int main(int argc, char** argv) {
  return toolMain([&] {
    bool mtime = false, quiet = false;
    captureZone zone = captureZone::local;
    captureTags tags = captureTags::original;
    timeFormat listing = timeFormat::plain;  // of -p and -j, the last given
    int opt;
    while ((opt = getopt(argc, argv, "qmpzjf")) != -1) {
      switch (opt) {
        case 'p': listing = timeFormat::php; break;
        case 'j': listing = timeFormat::json; break;
        case 'm': mtime = true; break;
        case 'q': quiet = true; break;
        case 'z': zone = captureZone::camera; break;
        case 'f': tags = captureTags::fallback; break;
        default: break;  // getopt has written its diagnostic
      }
    }
    // Only -j and -m use the fraction of the second.
    const bool fraction = listing == timeFormat::json || mtime;
    if (argc - optind <= 0) usageLine("Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]");
    // -q silences only the plain line.
    const std::unique_ptr<timeOutput> output =
        makeTimeOutput(listing == timeFormat::plain && quiet ? timeFormat::quiet : listing);
    output->begin();
    char** at = argv + optind - 1;  // the argument being handled
    lookAhead ahead(argv + optind, argv + argc);
    forEachFile(argv + optind, argv + argc, [&](const char* name) {
      ++at;
      const std::string file = name;
      const accessTime before = mtime ? noteAccessTime(file) : accessTime();
      jfif jfif_file(file.c_str());
      exifHeader e1(jfif_file, exifHeader::anyFormat);
      // While this photograph is parsed, slow storage reads the next ones'
      // heads.  Not with -m: their access times are noted before they are read.
      if (!mtime) ahead.after(at);
      std::unique_ptr<exif> exif1(new exif(e1));
      exif1->populate();
      captureTime t = readCaptureTime(exif1.get(), zone, tags);
      if (fraction) readSubSeconds(exif1.get(), t);
      if (mtime) set_mtime(file, t.instant, jfif_file.image().fd(), before, t.nanoseconds);
      output->photograph(file, t);
    }, [&](const char* name, const misc_error& me) { output->failed(name, me); });
    output->end();
  });
}
