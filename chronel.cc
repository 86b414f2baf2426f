// chronel: prints each photograph's capture time, sets its modification
// time to it (-m), or writes all times as a PHP array (-p).
#include <fcntl.h>
#include <sys/stat.h>
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

// The access time a file had before chronel read it.  Reading a photograph
// can itself move its access time (relatime and strictatime mounts), so -m
// notes it first and puts exactly that back.
struct accessTime {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec at = {};
};

accessTime noteAccessTime(const string& file) {
  accessTime a;
  struct stat st;
  if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    a.known = true;
    a.dev = st.st_dev;
    a.ino = st.st_ino;
    a.at = st.st_atim;
  }
  return a;
}

// Sets the file's modification time to the capture time (whole seconds) and
// leaves its access time as it was before chronel read the file: the noted
// one when the name still leads to the same file, else the current one.
void set_mtime(string file, time_t unixtime, const accessTime& before) {
  struct stat statbuf;
  if (stat(file.c_str(), &statbuf) != 0) throw file_error(" unable to stat");
  struct timespec newtimes[2];
  if (before.known && before.dev == statbuf.st_dev && before.ino == statbuf.st_ino) {
    newtimes[0] = before.at;
  } else {
    newtimes[0].tv_sec = 0;
    newtimes[0].tv_nsec = UTIME_OMIT;
  }
  newtimes[1].tv_sec = unixtime;
  newtimes[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, file.c_str(), newtimes, 0) != 0)
    throw file_error(" unable to set times on");
}

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
      // While this photograph is parsed, the disk reads the next one's head.
      // Not with -m: the next file's access time is noted before it is read.
      if (!mtime && i + 1 < argc) fileImage::foresee(argv[i + 1]);
      exifHeader e1(jfif_file);
      std::unique_ptr<exif> exif1(new exif(e1));
      exif1->populate();
      const time_t unixtime = exif_time(file, exif1.get());
      if (mtime) set_mtime(file, unixtime, before);
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
