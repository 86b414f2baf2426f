#include "toolDriver.h"

#include <cstring>

#include "exifHeader.h"
#include "jfif.h"
#include "jpegHeader.h"
#include "lineOutput.h"

int toolMain(const std::function<void()>& work) {
  try {
    work();
    stdoutLines().flush();
    return 0;
  } catch (const outputFailed& failure) {
    stderrLines()
        .text("chronel: unable to write standard output: ")
        .text(std::strerror(failure.err))
        .text(".")
        .endLine();
    return 1;
  }
}

void usageLine(const char* usage) { stderrLines().text(usage).endLine(); }

void forEachFile(char** first, char** last, const std::function<void(const char*)>& step,
                 const std::function<void(const char*, const misc_error&)>& failed) {
  for (char** file = first; file != last; ++file) {
    try {
      step(*file);
    } catch (const misc_error& me) {
      stdoutLines().dropPartialLine();
      if (failed) {
        try {
          failed(*file, me);
        } catch (const outputFailed&) {
          reportLine(me, *file);  // the file's report line still comes first
          throw;
        }
      }
      reportLine(me, *file);
    }
  }
}

void reportLine(const misc_error& me, const char* file) {
  stderrLines().text("chronel:").text(me.msg1()).text(" ").name(file).text(me.msg2()).text(".").endLine();
}

void openFailureLine(const jfif& file) {
  stdoutLines()
      .text("Unable to open file ")
      .name(file.name())
      .text(": ")
      .text(std::strerror(file.err()))
      .endLine();
}

void requireJpegOrExif(jfif& file) {
  const jpegHeader j1(file);
  const exifHeader e1(file);
  if (!j1.wellFormed() && !e1.wellFormed()) throw misc_error("", " is not a JPEG or EXIF file");
}
