// memFile: a fuzz input as a file the container library can open by name.
//
// The library reads photographs from paths, so each input is written into
// one anonymous in-memory file (memfd) that is reused for every input, and
// opened through /proc/self/fd.  This goes through the library's real open
// and read-on-demand path, and needs no test-only entry point.
#ifndef ORVANE_FUZZ_MEMFILE_H
#define ORVANE_FUZZ_MEMFILE_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class memFile {
 public:
  memFile() {
    mf_fd = memfd_create("orvane-fuzz-input", MFD_CLOEXEC);
    if (mf_fd < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    mf_path = "/proc/self/fd/" + std::to_string(mf_fd);
  }
  ~memFile() { ::close(mf_fd); }
  memFile(const memFile&) = delete;
  memFile& operator=(const memFile&) = delete;

  // Replaces the file's contents with the n bytes at data.
  void set(const uint8_t* data, size_t n) {
    if (::ftruncate(mf_fd, 0) != 0) std::abort();
    size_t done = 0;
    while (done < n) {
      ssize_t w = ::pwrite(mf_fd, data + done, n - done, static_cast<off_t>(done));
      if (w <= 0) std::abort();
      done += static_cast<size_t>(w);
    }
  }
  const char* path() const { return mf_path.c_str(); }

 private:
  int mf_fd = -1;
  std::string mf_path;
};

// Stops the run with a finding: an invariant of the library was broken.
#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

#endif
