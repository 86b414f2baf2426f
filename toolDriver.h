// toolDriver: the outer shape that the four tools share.
//
// A tool's main hands its work to toolMain and its per-file step to
// forEachFile: the step runs for each file argument, left to right, and a
// misc_error thrown in it (by the tool or the libraries) becomes that
// file's report line, "chronel:" + msg1 + " " + file + msg2 + ".", after
// which the next file is handled.  Only misc_error is caught.  The exit
// status is 0, whatever failed, unless standard output could not be
// written: then one line says so, no further file is handled, and the
// status is 1.
#ifndef ORVANE_TOOLDRIVER_H
#define ORVANE_TOOLDRIVER_H

#include <functional>

#include "exceptions.h"

class jfif;

// Runs the tool's work and returns its exit status.
int toolMain(const std::function<void()>& work);

// Writes the usage line to standard error.
void usageLine(const char* usage);

// Runs step(file) for each of the file arguments from first to last.  For
// a file whose step failed, failed(file, error) runs, when given, before
// the report line is written: a tool that lists every file on standard
// output writes its line for the failure there.
void forEachFile(char** first, char** last, const std::function<void(const char*)>& step,
                 const std::function<void(const char*, const misc_error&)>& failed = nullptr);

// The report line of a failed file.
void reportLine(const misc_error& me, const char* file);

// The marker tools' checks of a photograph they open.
// "Unable to open file NAME: REASON" on standard output.
void openFailureLine(const jfif& file);
// Throws " is not a JPEG or EXIF file" unless the file starts as a JPEG
// stream or carries an EXIF header.
void requireJpegOrExif(jfif& file);

#endif
