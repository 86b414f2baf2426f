#include "timeOutput.h"

#include <cstring>

#include "exceptions.h"
#include "lineOutput.h"

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

// The base name written between double quotes in PHP: backslash, double
// quote and dollar sign are escaped, so no name can end the string or
// interpolate a variable.
std::string phpQuoted(const std::string& name) {
  std::string out;
  out.reserve(name.size() + 2);
  for (char c : name) {
    if (c == '\\' || c == '"' || c == '$') out += '\\';
    out += c;
  }
  return out;
}

class plainLines : public timeOutput {
 public:
  void photograph(const std::string& file, time_t unixtime) override { show_time(file, unixtime); }
};

class nothing : public timeOutput {
 public:
  void photograph(const std::string&, time_t) override {}
};

// "<?php", one assignment a photograph, "?>": always the pair, so that
// standard output is one PHP block whatever happens in between.
class phpBlock : public timeOutput {
 public:
  void begin() override { stdoutLines().text("<?php").endLine(); }
  void photograph(const std::string& file, time_t unixtime) override {
    dump_php3_time(file, unixtime);
  }
  void end() override { stdoutLines().text("?>").endLine(); }
};

}  // namespace

std::unique_ptr<timeOutput> makeTimeOutput(timeFormat format) {
  switch (format) {
    case timeFormat::quiet: return std::make_unique<nothing>();
    case timeFormat::php: return std::make_unique<phpBlock>();
    case timeFormat::plain: break;
  }
  return std::make_unique<plainLines>();
}

// ctime's form is built with the reentrant calls, which report a time they
// cannot format instead of failing inside the C library.
void show_time(std::string file, time_t unixtime) {
  char text[64];
  struct tm local;
  if (!localtime_r(&unixtime, &local)) throw misc_error(" unable to format the capture time of");
  if (!ctimeText(local, text)) {
    if (!asctime_r(&local, text)) throw misc_error(" unable to format the capture time of");
    text[std::strcspn(text, "\n")] = '\0';
  }
  stdoutLines().text(text).text(" ").name(file).endLine();
}

void dump_php3_time(std::string file, time_t unixtime) {
  const std::string::size_type slash = file.rfind('/');
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  stdoutLines()
      .text("  $vx_image_times[\"")
      .name(phpQuoted(base))
      .text("\"] = ")
      .number(static_cast<long long>(unixtime))
      .text(";")
      .endLine();
}
