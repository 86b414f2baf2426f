// chronel: prints each photograph's capture time, sets its modification
// time to it (-m), or writes all times as a PHP array (-p).
#include <unistd.h>

#include <memory>
#include <string>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "fileTimes.h"
#include "jfif.h"
#include "timeOutput.h"
#include "toolDriver.h"
#include "util.h"

int main(int argc, char** argv) {
  return toolMain([&] {
    bool dump_php3 = false, mtime = false, quiet = false;
    int opt;
    while ((opt = getopt(argc, argv, "qmp")) != -1) {
      switch (opt) {
        case 'p': dump_php3 = true; break;
        case 'm': mtime = true; break;
        case 'q': quiet = true; break;
        default: break;  // getopt has written its diagnostic
      }
    }
    if (argc - optind <= 0) usageLine("Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]");
    const std::unique_ptr<timeOutput> output =
        makeTimeOutput(dump_php3 ? timeFormat::php : quiet ? timeFormat::quiet : timeFormat::plain);
    output->begin();
    char** const last = argv + argc;
    char** next = argv + optind;  // the argument after the one being handled
    forEachFile(argv + optind, last, [&](const char* name) {
      ++next;
      const std::string file = name;
      const accessTime before = mtime ? noteAccessTime(file) : accessTime();
      jfif jfif_file(file.c_str());
      // While this photograph is parsed, the disk reads the next one's head.
      // Not with -m: the next file's access time is noted before it is read.
      if (!mtime && next != last) fileImage::foresee(*next);
      exifHeader e1(jfif_file);
      std::unique_ptr<exif> exif1(new exif(e1));
      exif1->populate();
      const time_t unixtime = exif_time(file, exif1.get());
      if (mtime) set_mtime(file, unixtime, jfif_file.image().fd(), before);
      output->photograph(file, unixtime);
    });
    output->end();
  });
}
