#include "timeOutput.h"

#include <cstring>

#include "exceptions.h"
#include "lineOutput.h"
#include "quote.h"

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

// A name as a JSON string: UTF-8 on a pipe or into a file, ASCII only on
// a terminal, whose character set may not be UTF-8 (quote.h).
std::string jsonString(const std::string& s) {
  return quote(stdoutLines().terminal() ? quoteStyle::jsonAscii : quoteStyle::json, s);
}

// Writes v, 0 <= v < 10^width, as `width` decimal digits.
char* digits(char* p, long v, int width) {
  for (int i = width - 1; i >= 0; --i, v /= 10) p[i] = static_cast<char>('0' + v % 10);
  return p + width;
}

// An ISO 8601 date and time with its UTC offset: 2004-01-05T10:00:00+00:00
// (with seconds in the offset only where the zone had them, as zones did
// before standard time), and the fraction of the second where there is
// one, in milli-, micro- or nanoseconds as its digits need:
// 2004-01-05T10:00:00.042+00:00.  Written digit by digit: snprintf cost
// more than the rest of a photograph's line.  The capture time's year is 1
// to 9999 (readCaptureTime refuses others), and a UTC offset is less than
// a day.
struct isoText {
  char text[64];
};

isoText isoTime(const struct tm& w, long offset, long nanoseconds) {
  isoText iso;
  const long year = w.tm_year + 1900L;
  const long a = offset < 0 ? -offset : offset;
  char* p = digits(iso.text, year, 4);
  *p++ = '-';
  p = digits(p, w.tm_mon + 1, 2);
  *p++ = '-';
  p = digits(p, w.tm_mday, 2);
  *p++ = 'T';
  p = digits(p, w.tm_hour, 2);
  *p++ = ':';
  p = digits(p, w.tm_min, 2);
  *p++ = ':';
  p = digits(p, w.tm_sec, 2);
  if (nanoseconds > 0 && nanoseconds < 1000000000) {
    *p++ = '.';
    int width = 9;
    long fraction = nanoseconds;
    while (width > 3 && fraction % 1000 == 0) {
      fraction /= 1000;
      width -= 3;
    }
    p = digits(p, fraction, width);
  }
  *p++ = offset < 0 ? '-' : '+';
  p = digits(p, a / 3600, 2);
  *p++ = ':';
  p = digits(p, a / 60 % 60, 2);
  if (a % 60) {
    *p++ = ':';
    p = digits(p, a % 60, 2);
  }
  *p = '\0';
  return iso;
}

// ctime's text of a time in the local zone.
void ctimeOf(time_t unixtime, char* text) {
  struct tm local;
  if (!localtime_r(&unixtime, &local)) throw misc_error(" unable to format the capture time of");
  if (!ctimeText(local, text)) {
    if (!asctime_r(&local, text)) throw misc_error(" unable to format the capture time of");
    text[std::strcspn(text, "\n")] = '\0';
  }
}

class plainLines : public timeOutput {
 public:
  void photograph(const std::string& file, const captureTime& t) override {
    show_time(file, t.instant);
  }
  // The time line with the new name after the old one.
  void filed(const std::string& file, const captureTime& t, const std::string& renamed) override {
    char text[64];
    ctimeOf(t.instant, text);
    stdoutLines().text(text).text(" ").name(file).text(" -> ").name(renamed).endLine();
  }
  // A sidecar's line and a name put back: OLD -> NEW.
  void sidecar(const std::string& file, const std::string& renamed, const std::string&) override {
    putBack(file, renamed);
  }
  void putBack(const std::string& file, const std::string& renamed) override {
    stdoutLines().name(file).text(" -> ").name(renamed).endLine();
  }
};

class nothing : public timeOutput {
 public:
  void photograph(const std::string&, const captureTime&) override {}
};

// JSON Lines: one object a file, nothing before or after.  A dated file's
// members say where its time and its offset came from; a failed file's
// object holds its report line without "chronel: " and the full stop.
class jsonLines : public timeOutput {
 public:
  void photograph(const std::string& file, const captureTime& t) override {
    members(file, t).text("}").endLine();
  }
  // "renamed" is the last member, after all that a dated line holds.
  void filed(const std::string& file, const captureTime& t, const std::string& renamed) override {
    members(file, t).text(", \"renamed\": ").text(jsonString(renamed).c_str()).text("}").endLine();
  }
  void sidecar(const std::string& file, const std::string& renamed, const std::string& with) override {
    renaming(file, renamed).text(", \"with\": ").text(jsonString(with).c_str()).text("}").endLine();
  }
  void putBack(const std::string& file, const std::string& renamed) override {
    renaming(file, renamed).text("}").endLine();
  }
  void failed(const std::string& file, const misc_error& me) override {
    const char* first = me.msg1();
    if (*first == ' ') ++first;
    std::string text = first;
    if (*me.msg1()) text += ' ';
    text += file;
    text += me.msg2();
    stdoutLines()
        .text("{\"file\": ")
        .text(jsonString(file).c_str())
        .text(", \"error\": ")
        .text(jsonString(text).c_str())
        .text("}")
        .endLine();
  }

 private:
  // A dated line's members, up to its closing brace.
  lineOutput& members(const std::string& file, const captureTime& t) {
    return stdoutLines()
        .text("{\"file\": ")
        .text(jsonString(file).c_str())
        .text(", \"time\": ")
        .number(static_cast<long long>(t.instant))
        .text(", \"taken\": \"")
        .text(isoTime(t.wall, t.offset, t.nanoseconds).text)
        .text("\", \"source\": \"")
        .text(t.source)
        .text("\", \"zone\": \"")
        .text(t.zone)
        .text("\"");
  }
  // A rename's line, up to its closing brace.
  lineOutput& renaming(const std::string& file, const std::string& renamed) {
    return stdoutLines()
        .text("{\"file\": ")
        .text(jsonString(file).c_str())
        .text(", \"renamed\": ")
        .text(jsonString(renamed).c_str());
  }
};

// "<?php", one assignment a photograph, "?>": always the pair, so that
// standard output is one PHP block whatever happens in between.
class phpBlock : public timeOutput {
 public:
  void begin() override { stdoutLines().text("<?php").endLine(); }
  void photograph(const std::string& file, const captureTime& t) override {
    dump_php3_time(file, t.instant);
  }
  void end() override { stdoutLines().text("?>").endLine(); }
};

}  // namespace

std::unique_ptr<timeOutput> makeTimeOutput(timeFormat format) {
  switch (format) {
    case timeFormat::quiet: return std::make_unique<nothing>();
    case timeFormat::php: return std::make_unique<phpBlock>();
    case timeFormat::json: return std::make_unique<jsonLines>();
    case timeFormat::plain: break;
  }
  return std::make_unique<plainLines>();
}

// ctime's form is built with the reentrant calls, which report a time they
// cannot format instead of failing inside the C library.
void show_time(std::string file, time_t unixtime) {
  char text[64];
  ctimeOf(unixtime, text);
  stdoutLines().text(text).text(" ").name(file).endLine();
}

void dump_php3_time(std::string file, time_t unixtime) {
  const std::string::size_type slash = file.rfind('/');
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  // Quoted for PHP, then (on a terminal) shown as a name is.
  stdoutLines()
      .text("  $vx_image_times[")
      .name(quote(quoteStyle::php, base))
      .text("] = ")
      .number(static_cast<long long>(unixtime))
      .text(";")
      .endLine();
}
