// chronel: prints each photograph's capture time, sets its modification
// time to it (-m), or writes all times as a PHP array (-p).
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>

#include "exceptions.h"
#include "exif.h"
#include "exifHeader.h"
#include "jfif.h"
#include "util.h"

using std::cerr;
using std::cout;
using std::endl;
using std::string;

// The plain line: the ctime text without its newline, a blank, the name.
// ctime's form is built with the reentrant calls, which report a time they
// cannot format instead of failing inside the C library.
void show_time(string file, time_t unixtime) {
  char text[64];
  struct tm local;
  if (!localtime_r(&unixtime, &local) || !asctime_r(&local, text))
    throw misc_error(" unable to format the capture time of");
  text[std::strcspn(text, "\n")] = '\0';
  cout << text << " " << file << endl;
}

namespace {

// The base name written between double quotes in PHP: backslash, double
// quote and dollar sign are escaped, so no name can end the string or
// interpolate a variable.
string phpQuoted(const string& name) {
  string out;
  out.reserve(name.size() + 2);
  for (char c : name) {
    if (c == '\\' || c == '"' || c == '$') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

// One assignment of the PHP array.
void dump_php3_time(string file, time_t unixtime) {
  const string::size_type slash = file.rfind('/');
  const string base = slash == string::npos ? file : file.substr(slash + 1);
  cout << "  $vx_image_times[\"" << phpQuoted(base) << "\"] = " << static_cast<long long>(unixtime)
       << ";" << endl;
}

int main(int argc, char** argv) {
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
  if (argc - optind <= 0)
    cerr << "Usage: chronel [ flags ] p0000001.jpg [ p0000002.jpg ... ]" << endl;
  if (dump_php3) cout << "<?php" << endl;

  for (int i = optind; i < argc; ++i) {
    const string file = argv[i];
    try {
      const accessTime before = mtime ? noteAccessTime(file) : accessTime();
      jfif jfif_file(file.c_str());
      exifHeader e1(jfif_file);
      std::unique_ptr<exif> exif1(new exif(e1));
      exif1->populate();
      const time_t unixtime = exif_time(file, exif1.get());
      if (mtime) set_mtime(file, unixtime, jfif_file.image().fd(), before);
      if (dump_php3)
        dump_php3_time(file, unixtime);
      else if (!quiet)
        show_time(file, unixtime);
    } catch (const misc_error& me) {
      cerr << "chronel:" << me.msg1() << " " << file << me.msg2() << "." << endl;
    }
  }

  if (dump_php3) cout << "?>" << endl;
  return 0;
}
