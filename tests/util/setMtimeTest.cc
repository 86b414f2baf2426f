// set_mtime: it changes the times of the file that was read, whatever now
// stands at that file's name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fileTimes.h"
#include "jfif.h"
#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

struct stat statOf(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

// The photograph is renamed after it was read and a symbolic link to
// another file put at its name: the times of the photograph change, the
// link's target keeps its own.
TEST(SetMtime, ANameReplacedAfterTheReadLeavesTheNewFileAlone) {
  tempDir dir;
  const std::string photo = dir / "p.jpg", moved = dir / "moved.jpg", victim = dir / "victim";
  jpegWriter().photo(tiffWriter().dateTimeOriginal("2004:01:05 10:00:00").build()).save(photo);
  writeFile(victim, "precious\n");
  const struct timespec victimTimes[2] = {{1500000000, 11}, {1600000000, 22}};
  ASSERT_EQ(utimensat(AT_FDCWD, victim.c_str(), victimTimes, 0), 0);
  const struct timespec photoTimes[2] = {{1400000000, 33}, {1600000000, 44}};
  ASSERT_EQ(utimensat(AT_FDCWD, photo.c_str(), photoTimes, 0), 0);

  const accessTime before = noteAccessTime(photo);
  jfif j(photo.c_str());
  ASSERT_EQ(j.err(), 0);
  j.image().loadAll();
  ASSERT_EQ(std::rename(photo.c_str(), moved.c_str()), 0);
  ASSERT_EQ(symlink("victim", photo.c_str()), 0);

  set_mtime(photo, 1073296800, j.image().fd(), before);

  const struct stat v = statOf(victim), p = statOf(moved);
  EXPECT_EQ(v.st_mtim.tv_sec, 1600000000);
  EXPECT_EQ(v.st_mtim.tv_nsec, 22);
  EXPECT_EQ(v.st_atim.tv_sec, 1500000000);
  EXPECT_EQ(v.st_atim.tv_nsec, 11);
  EXPECT_EQ(p.st_mtim.tv_sec, 1073296800);
  EXPECT_EQ(p.st_mtim.tv_nsec, 0);
  EXPECT_EQ(p.st_atim.tv_sec, 1400000000);
  EXPECT_EQ(p.st_atim.tv_nsec, 33);
}

}  // namespace
