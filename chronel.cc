// chronel: prints each photograph's capture time, sets its modification
// time to it (-m), or writes all times as a PHP array (-p) or as JSON Lines
// (-j); -z reads the time in the camera's own UTC offset, -f falls back to
// the other EXIF dates where DateTimeOriginal is missing.  -n files each
// photograph under a name made of its capture time, -u undoes a filing from
// its journal, -t shows what -n, -m or -u would do and does nothing.
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "exceptions.h"
#include "exifHeader.h"
#include "fileCaptureTime.h"
#include "fileFiling.h"
#include "fileTimes.h"
#include "filingUndo.h"
#include "jfif.h"
#include "lookAhead.h"
#include "timeOutput.h"
#include "toolDriver.h"
#include "util.h"

namespace {
const char usage[] = "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]";
}

int main(int argc, char** argv) {
  return toolMain([&] {
    bool mtime = false, quiet = false;
    bool filing = false, dryRun = false, undo = false, phpAsked = false;
    std::string format;
    captureZone zone = captureZone::local;
    captureTags tags = captureTags::original;
    timeFormat listing = timeFormat::plain;  // of -p and -j, the last given
    int opt;
    while ((opt = getopt(argc, argv, "qmpzjfn:tu")) != -1) {
      switch (opt) {
        case 'p': listing = timeFormat::php; phpAsked = true; break;
        case 'j': listing = timeFormat::json; break;
        case 'm': mtime = true; break;
        case 'q': quiet = true; break;
        case 'z': zone = captureZone::camera; break;
        case 'f': tags = captureTags::fallback; break;
        case 'n': filing = true; format = optarg; break;
        case 't': dryRun = true; break;
        case 'u': undo = true; break;
        default: break;  // getopt has written its diagnostic
      }
    }
    // Only -j and -m use the fraction of the second.
    const bool fraction = listing == timeFormat::json || mtime;
    // Filing and undoing write no PHP, and an unknown conversion would file
    // a library under names nobody meant: nothing is done.
    if ((filing && (phpAsked || !filingFormat::valid(format))) || (undo && (filing || mtime || phpAsked)))
      return usageLine(usage);
    if (argc - optind <= 0) usageLine(usage);
    // -q silences only the plain line.
    const std::unique_ptr<timeOutput> output =
        makeTimeOutput(listing == timeFormat::plain && quiet ? timeFormat::quiet : listing);
    nameSpace names(dryRun);
    if (undo) return undoFiling(std::vector<std::string>(argv + optind, argv + argc), names, *output);
    std::unique_ptr<filer> filer1;
    if (filing) filer1 = std::make_unique<filer>(filingFormat(format), names, *output);
    output->begin();
    char** at = argv + optind - 1;  // the argument being handled
    lookAhead ahead(argv + optind, argv + argc);
    forEachFile(argv + optind, argv + argc, [&](const char* name) {
      ++at;
      const std::string file = name;
      if (filer1 && filer1->passOver(file)) return;
      const bool setTime = mtime && !dryRun;
      const accessTime before = setTime ? noteAccessTime(file) : accessTime();
      jfif jfif_file(file.c_str());
      exifHeader e1(jfif_file, exifHeader::anyFormat);
      // While this photograph is parsed, slow storage reads the next ones'
      // heads.  Not with -m: their access times are noted before they are read.
      if (!mtime) ahead.after(at);
      const captureTime t = fileCaptureTime(e1, zone, tags, fraction);
      if (filer1) {  // the rename first, then the time, through the descriptor
        const struct stat& read = jfif_file.image().status();
        filer1->file(file, fileId{read.st_dev, read.st_ino}, t);
        if (setTime) set_mtime(file, t.instant, jfif_file.image().fd(), before, t.nanoseconds);
        return;
      }
      if (setTime) set_mtime(file, t.instant, jfif_file.image().fd(), before, t.nanoseconds);
      output->photograph(file, t);
    }, [&](const char* name, const misc_error& me) { output->failed(name, me); });
    output->end();
  });
}
