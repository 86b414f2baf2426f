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

namespace {

// ctime's form of a broken-down time, "Mon Jan  5 10:00:00 2004", for the
// four-digit years that EXIF dates give, written directly: it is what
// asctime writes ("%.3s %.3s%3d %.2d:%.2d:%.2d %d"), at a tenth of the cost
// of its formatted output.  False for any other time.
bool ctimeText(const struct tm& t, char* out) {
  static const char days[] = "SunMonTueWedThuFriSat";
  static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const long long year = t.tm_year + 1900LL;
  if (year < 1000 || year > 9999 || t.tm_wday < 0 || t.tm_wday > 6 || t.tm_mon < 0 ||
      t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour < 0 || t.tm_hour > 23 ||
      t.tm_min < 0 || t.tm_min > 59 || t.tm_sec < 0 || t.tm_sec > 60)
    return false;
  auto two = [](char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  std::memcpy(out, days + 3 * t.tm_wday, 3);
  out[3] = ' ';
  std::memcpy(out + 4, months + 3 * t.tm_mon, 3);
  out[7] = ' ';
  two(out + 8, t.tm_mday);
  if (t.tm_mday < 10) out[8] = ' ';
  out[10] = ' ';
  two(out + 11, t.tm_hour);
  out[13] = ':';
  two(out + 14, t.tm_min);
  out[16] = ':';
  two(out + 17, t.tm_sec);
  out[19] = ' ';
  two(out + 20, static_cast<int>(year / 100));
  two(out + 22, static_cast<int>(year % 100));
  out[24] = '\0';
  return true;
}

}  // namespace

// The plain line: the ctime text without its newline, a blank, the name.
// ctime's form is built with the reentrant calls, which report a time they
// cannot format instead of failing inside the C library.
void show_time(string file, time_t unixtime) {
  char text[64];
  struct tm local;
  if (!localtime_r(&unixtime, &local)) throw misc_error(" unable to format the capture time of");
  if (!ctimeText(local, text)) {
    if (!asctime_r(&local, text)) throw misc_error(" unable to format the capture time of");
    text[std::strcspn(text, "\n")] = '\0';
  }
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
      exifHeader e1(jfif_file, exifHeader::anyFormat);
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
