// What the tools' lines look like where they go: on a terminal a comment or
// a file name cannot drive it, while a pipe gets every byte as it is, and
// the lines of tools that share one pipe never mix.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

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

// Lines are written whole, up to PIPE_BUF bytes at a time: eight processes
// writing into one pipe at once never split one another's lines.
TEST(SharedPipe, EightProcessesLinesStayWhole) {
  tempDir dir;
  std::map<std::string, int> expected;
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "p" + std::to_string(100 + i) + ".jpg";
    const std::string comment = "comment of " + name + " " + std::string(300 + 7 * i, 'x');
    jpegWriter().soi().com(comment).eoi().save(dir / name);
    names.push_back(name);
    expected[name + ":"] = 8;
    expected[comment] = 8;
  }
  const toolResult r = runToolMerged(GLOSSEL, names, {{}, dir.path()},
                                     "for i in 1 2 3 4 5 6 7 8; do \"$@\" & done; wait; exit; ");
  std::map<std::string, int> seen;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) ++seen[line];
  EXPECT_EQ(seen, expected);
}

}  // namespace
