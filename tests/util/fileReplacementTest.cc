// fileReplacement: whoever reads the target's name sees the older file or
// the whole new one, never a part, and nothing else is left behind.
#include "fileReplacement.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <string>

#include "runTool.h"

using namespace testjpeg;

namespace {

TEST(FileReplacement, TheTargetIsTheOlderFileOrTheWholeNewOne) {
  tempDir dir;
  const std::string target = dir / "x.wav";
  writeFile(target, "older");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  {
    fileReplacement r(" unable to write", " unable to rename");
    r.create(target);
    r.write("new bytes", 9);
    // Written beside the target under a name that says what it is for.
    const std::set<std::string> names = listDir(dir.path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names.begin()->rfind(".x.wav.", 0), 0u) << *names.begin();
    EXPECT_EQ(readFile(target), "older");
    r.keep();
  }
  EXPECT_EQ(readFile(target), "new bytes");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  {
    fileReplacement r(" unable to write", " unable to rename");
    r.create(target);
    r.write("abandoned", 9);
  }  // not kept: removed
  EXPECT_EQ(readFile(target), "new bytes");
  EXPECT_EQ(listDir(dir.path()), std::set<std::string>{"x.wav"});
}

}  // namespace
