// What reaches a terminal: a comment or a file name cannot drive it, while
// a pipe gets every byte as it is.
#include <gtest/gtest.h>

#include <string>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

TEST(Terminal, CommentsAndNamesCannotDriveIt) {
  tempDir dir;
  const std::string name = "title\x1b]0;owned\x07.jpg";
  const std::string comment = "caf\xc3\xa9 one\nline\ttwo \x1b[2J\x9b\x7f \xc2\x9b end";
  jpegWriter().soi().com(comment).eoi().save(dir / name);
  const runOptions utf8{{"LC_ALL=C.UTF-8"}, dir.path()};

  toolResult r = runToolOnTerminal(GLOSSEL, {name, "gone\x1b[2J.jpg"}, utf8);
  EXPECT_EQ(r.out,
            "title\\033]0;owned\\007.jpg:\n"
            "caf\xc3\xa9 one\nline\ttwo \\033[2J\\233\\177 \\302\\233 end\n"
            "Unable to open file gone\\033[2J.jpg: No such file or directory\n");
  // Report lines too, and what is printable is the locale's to say.
  jpegWriter().photo().save(dir / "caf\xc3\xa9\x1b.jpg");
  r = runToolOnTerminal(CHRONEL, {"caf\xc3\xa9\x1b.jpg"}, utf8);
  EXPECT_EQ(r.out, "chronel: caf\xc3\xa9\\033.jpg has no EXIF data.\n");
  r = runToolOnTerminal(CHRONEL, {"caf\xc3\xa9\x1b.jpg"}, {{"LC_ALL=C"}, dir.path()});
  EXPECT_EQ(r.out, "chronel: caf\\303\\251\\033.jpg has no EXIF data.\n");

  // A pipe gets the bytes as they are.
  r = runTool(GLOSSEL, {name}, utf8);
  EXPECT_EQ(r.out, name + ":\n" + comment + "\n");
}

}  // namespace
