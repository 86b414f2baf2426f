// The installed suite: `cmake --install` into a temporary prefix, the tree
// then moved elsewhere, and every installed tool run from there with no
// LD_LIBRARY_PATH.  The programs must find the installed libraries through
// a RUNPATH relative to themselves, never the build tree's copies.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jpegWriter.h"
#include "runTool.h"

using namespace testjpeg;

namespace {

const char* const programs[] = {"chronel", "segdump", "glossel", "sonlift"};
const char* const libraries[] = {"osmer", "telmar", "varden"};

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Nothing may help the installed programs find their libraries.
    unsetenv("LD_LIBRARY_PATH");
    root = std::make_unique<tempDir>();
    const std::string staged = *root / "staged";
    install = runTool(CMAKE_PROGRAM, {"--install", BUILD_TREE, "--prefix", staged});
    // Moved after the install: nothing may depend on the prefix it was made for.
    prefix = *root / "moved";
    if (install.status == 0 && std::rename(staged.c_str(), prefix.c_str()) != 0)
      install.status = -1, install.err += "cannot move the installed tree\n";
  }
  static void TearDownTestSuite() { root.reset(); }

  void SetUp() override {
    ASSERT_EQ(install.status, 0) << install.out << install.err;
  }

  static std::string bin(const std::string& program) {
    return prefix + "/" INSTALL_BINDIR "/" + program;
  }
  static std::string lib(const std::string& file) { return prefix + "/" INSTALL_LIBDIR "/" + file; }
  static std::string soname(const std::string& library) {
    return "lib" + library + ".so." SOVERSION_TEXT;
  }

  static std::string readelf(const std::string& file) {
    const std::string tool = findProgram("readelf");
    if (tool.empty()) ADD_FAILURE() << "readelf (binutils) is missing";
    toolResult r = runTool(tool, {"-d", "-W", file});
    EXPECT_EQ(r.status, 0) << r.err;
    // Column widths differ between 32- and 64-bit files: one blank each.
    return std::regex_replace(r.out, std::regex(" +"), " ");
  }

  static std::unique_ptr<tempDir> root;
  static toolResult install;
  static std::string prefix;
};

std::unique_ptr<tempDir> Installed::root;
toolResult Installed::install;
std::string Installed::prefix;

TEST_F(Installed, LayoutHasProgramsLibrariesWithSonameLinksAndManualPages) {
  struct stat st;
  for (const char* p : programs) {
    ASSERT_EQ(lstat(bin(p).c_str(), &st), 0) << bin(p);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << p;
    EXPECT_EQ(st.st_mode & 0111, 0111u) << p << " is not executable by everyone";

    const std::string page = prefix + "/" INSTALL_MANDIR "/man1/" + p + ".1.gz";
    const std::string gz = readFile(page);
    ASSERT_GT(gz.size(), 2u) << page;
    EXPECT_EQ(gz.substr(0, 2), "\x1f\x8b") << page << " is not gzip-compressed";
  }
  for (const char* l : libraries) {
    const std::string file = "lib" + std::string(l) + ".so." PROJECT_VERSION_TEXT;
    ASSERT_EQ(lstat(lib(file).c_str(), &st), 0) << lib(file);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << file;
    EXPECT_EQ(st.st_mode & 07777, 0644u) << file;

    ASSERT_EQ(lstat(lib(soname(l)).c_str(), &st), 0) << lib(soname(l));
    ASSERT_TRUE(S_ISLNK(st.st_mode)) << soname(l) << " is not a symbolic link";
    char target[PATH_MAX];
    const ssize_t n = readlink(lib(soname(l)).c_str(), target, sizeof target - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(target, static_cast<size_t>(n)), file) << "relative link expected";
  }
}

// The directories a file's RUNPATH (or RPATH) names, with $ORIGIN
// expanded to the file's own directory; fails when one is not relative to
// the file.
std::vector<std::string> searchPath(const std::string& dyn, const std::string& origin) {
  const std::regex entry(R"(\((RUNPATH|RPATH)\)\s+Library r(un)?path: \[([^\]]*)\])");
  std::vector<std::string> dirs;
  for (std::sregex_iterator it(dyn.begin(), dyn.end(), entry), end; it != end; ++it) {
    std::istringstream list((*it)[3].str());
    std::string dir;
    while (std::getline(list, dir, ':')) {
      EXPECT_EQ(dir.rfind("$ORIGIN", 0), 0u) << "searches " << dir << " (not relative)";
      if (dir.rfind("$ORIGIN", 0) == 0) dirs.push_back(origin + dir.substr(7));
    }
  }
  return dirs;
}

bool foundIn(const std::vector<std::string>& dirs, const std::string& file) {
  for (const std::string& d : dirs)
    if (access((d + "/" + file).c_str(), R_OK) == 0) return true;
  return false;
}

TEST_F(Installed, LibrariesCarryTheirSonamesAndFindLibosmerBesideThemselves) {
  for (const char* l : libraries) {
    SCOPED_TRACE(l);
    const std::string dyn = readelf(lib(soname(l)));
    EXPECT_NE(dyn.find("(SONAME) Library soname: [" + soname(l) + "]"),
              std::string::npos);
    if (std::string(l) == "osmer") continue;
    EXPECT_NE(dyn.find("(NEEDED) Shared library: [" + soname("osmer") + "]"),
              std::string::npos);
    EXPECT_TRUE(foundIn(searchPath(dyn, prefix + "/" INSTALL_LIBDIR), soname("osmer"))) << dyn;
  }
}

TEST_F(Installed, ProgramsNeedTheLibrariesBySonameThroughARunpathRelativeToThemselves) {
  for (const char* p : programs) {
    SCOPED_TRACE(p);
    const std::string dyn = readelf(bin(p));
    const std::vector<std::string> dirs = searchPath(dyn, prefix + "/" INSTALL_BINDIR);
    ASSERT_FALSE(dirs.empty()) << "neither RUNPATH nor RPATH:\n" << dyn;
    for (const char* l : libraries) {
      EXPECT_NE(dyn.find("(NEEDED) Shared library: [" + soname(l) + "]"),
                std::string::npos)
          << "does not load " << l;
      EXPECT_TRUE(foundIn(dirs, soname(l))) << l << " not found through:\n" << dyn;
    }
  }
}

// Every element of every search path, built or installed, is absolute or
// relative to the file: an empty or relative one is taken from the working
// directory, where a photograph's folder could supply a library.
TEST_F(Installed, NoSearchPathElementDependsOnTheWorkingDirectory) {
  std::vector<std::string> files;
  for (const char* p : programs) files.insert(files.end(), {bin(p), BUILD_TREE "/" + std::string(p)});
  for (const char* l : libraries)
    files.insert(files.end(), {lib(soname(l)), BUILD_TREE "/lib/" + soname(l)});
  const std::regex entry(R"(\((RUNPATH|RPATH)\)\s+Library r(un)?path: \[([^\]]*)\])");
  for (const std::string& f : files) {
    const std::string dyn = readelf(f);
    bool any = false;
    for (std::sregex_iterator it(dyn.begin(), dyn.end(), entry), end; it != end; ++it) {
      const std::string list = (*it)[3].str() + ":";  // so that a trailing empty element counts
      for (size_t from = 0, colon; (colon = list.find(':', from)) != std::string::npos;
           from = colon + 1) {
        const std::string dir = list.substr(from, colon - from);
        EXPECT_TRUE(dir.rfind("/", 0) == 0 || dir.rfind("$ORIGIN", 0) == 0)
            << f << " searches \"" << dir << "\"";
        any = true;
      }
    }
    EXPECT_TRUE(any) << f << " has no search path";
  }
}

TEST_F(Installed, LibrariesResolveInsideTheInstalledTree) {
  // The dynamic loader lists what it would load, as ldd does.
  const std::regex loaded(R"((lib\w+\.so\.\d+) => (\S+))");
  for (const char* p : programs) {
    runOptions trace;
    trace.env = {"LD_TRACE_LOADED_OBJECTS=1"};
    toolResult r = runTool(bin(p), {}, trace);
    ASSERT_EQ(r.status, 0) << p << "\n" << r.out << r.err;
    std::set<std::string> found;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), loaded), end; it != end; ++it) {
      for (const char* l : libraries) {
        if ((*it)[1].str() != soname(l)) continue;
        found.insert(l);
        EXPECT_EQ(realPath((*it)[2].str()), realPath(lib(soname(l)))) << p << ":\n" << r.out;
      }
    }
    EXPECT_EQ(found.size(), 3u) << p << ":\n" << r.out;
  }
}

TEST_F(Installed, EveryToolWorksOnAPhotograph) {
  tempDir work;
  tiffWriter exif;
  exif.dateTimeOriginal("2004:01:05 10:00:00");
  const bytes audio = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
  jpegWriter w;
  w.soi().app0Jfif().app1Exif(exif.build()).com("hello");
  for (int i = 0; i < 4; ++i) w.segment(0xE2, bytes(13, 'h'));  // header segments, not audio
  bytes first(41, 'x');                                         // 45 skipped with marker and length
  first.insert(first.end(), audio.begin(), audio.begin() + 8);
  bytes second(13, 'y');                                        // 17 skipped
  second.insert(second.end(), audio.begin() + 8, audio.end());
  w.segment(0xE2, first).segment(0xE2, second);
  w.frameHeaders().sos().raw({0x12, 0x34}).eoi();
  w.save(work / "p.jpg");

  const runOptions opts{{"TZ=UTC"}, work.path()};
  toolResult r = runTool(bin("chronel"), {"p.jpg"}, opts);
  EXPECT_EQ(r.out, "Mon Jan  5 10:00:00 2004 p.jpg\n");
  EXPECT_EQ(r.err, "");
  r = runTool(bin("chronel"), {"-p", "p.jpg", "none.jpg"}, opts);
  EXPECT_EQ(r.out, "<?php\n  $vx_image_times[\"p.jpg\"] = 1073296800;\n?>\n");
  EXPECT_EQ(r.err, "chronel: unable to open none.jpg: No such file or directory.\n");

  r = runTool(bin("segdump"), {"p.jpg"}, opts);
  EXPECT_EQ(r.out.rfind("JFIF file p.jpg:\n  marker type SOI, len = 2, offset = 0, addr = 0x", 0), 0u)
      << r.out;
  EXPECT_EQ(r.err, "");

  r = runTool(bin("glossel"), {"p.jpg"}, opts);
  EXPECT_EQ(r.out, "p.jpg:\nhello\n");
  EXPECT_EQ(r.err, "");

  r = runTool(bin("sonlift"), {"p.jpg"}, opts);
  EXPECT_EQ(r.out, "JFIF file p.jpg:\nRIFF file p.jpg.wav\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(work / "p.jpg.wav"), std::string(audio.begin(), audio.end()));
}

}  // namespace
