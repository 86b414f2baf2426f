// sonlift: copies the audio stream that a photograph carries in its APP2
// segments (the fifth from position 45, every later one from position 17)
// into a file named like the photograph with ".wav" appended.
//
// The stream is written to a new temporary file beside the photograph and
// renamed onto the output name only when it is complete, so an older file of
// that name never keeps stale bytes, a symbolic link planted there is
// replaced rather than followed, and a failure never leaves a half-written
// output behind.  A failed create, write, close or rename ends the
// photograph with a report line.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <string>

#include "exceptions.h"
#include "exifHeader.h"
#include "jfif.h"
#include "jpegHeader.h"

using std::cerr;
using std::cout;
using std::endl;
using std::string;

namespace {

const char* const writeFailure = " unable to write audio of";
const char* const renameFailure = " unable to rename audio into place for";

// Bytes before the audio: segment header (and, in the first audio segment,
// 28 more bytes), counted from the segment's 0xFF byte.
constexpr uint32_t firstAudioSkip = 45;
constexpr uint32_t laterAudioSkip = 17;

// Letters for temporary names: a fixed short name in the photograph's
// directory, so it fits wherever the output name fits.
string randomSuffix() {
  static uint64_t state = 0;
  if (state == 0) {
    if (getrandom(&state, sizeof state, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof state)) {
      timespec ts;
      clock_gettime(CLOCK_REALTIME, &ts);
      state = static_cast<uint64_t>(ts.tv_nsec) ^ (static_cast<uint64_t>(ts.tv_sec) << 20) ^
              (static_cast<uint64_t>(getpid()) << 40);
    }
    state |= 1;
  }
  static const char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  string s;
  for (int k = 0; k < 10; ++k) {
    state ^= state << 13;  // xorshift64
    state ^= state >> 7;
    state ^= state << 17;
    s += letters[state % (sizeof letters - 1)];
  }
  return s;
}

// One photograph's output file.  Created exclusively under a temporary name
// in the output's directory (permission bits 0666 reduced by the umask),
// filled with complete writes, then closed and renamed onto the output name
// by keep().  Until keep() has succeeded, destroying the object closes and
// removes the temporary file, whatever path the photograph took.
class audioFile {
 public:
  audioFile() = default;
  ~audioFile() { discard(); }
  audioFile(const audioFile&) = delete;
  audioFile& operator=(const audioFile&) = delete;

  bool created() const { return au_fd >= 0; }

  void create(const string& name) {
    au_name = name;
    const string::size_type slash = au_name.rfind('/');
    const string dir = slash == string::npos ? string() : au_name.substr(0, slash + 1);
    for (int attempt = 0; attempt < 1000; ++attempt) {
      string temp = dir + ".sonlift-" + randomSuffix();
      int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
      if (fd >= 0) {
        au_fd = fd;
        au_temp = temp;
        return;
      }
      if (errno != EEXIST) break;
    }
    throw file_error(writeFailure);
  }

  // Writes all n bytes, continuing short and interrupted writes.
  void write(const unsigned char* p, size_t n) {
    while (n > 0) {
      ssize_t w = ::write(au_fd, p, n);
      if (w < 0) {
        if (errno == EINTR) continue;
        throw file_error(writeFailure);
      }
      if (w == 0) throw file_error(writeFailure, EIO);  // no progress: never loop forever
      p += w;
      n -= static_cast<size_t>(w);
    }
  }

  // Closes the file and puts it in place under the output name.
  void keep() {
    int fd = au_fd;
    au_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) throw file_error(writeFailure);
    if (::rename(au_temp.c_str(), au_name.c_str()) != 0) throw file_error(renameFailure);
    au_temp.clear();
  }

 private:
  void discard() {
    if (au_fd >= 0) ::close(au_fd);
    au_fd = -1;
    if (!au_temp.empty()) ::unlink(au_temp.c_str());
    au_temp.clear();
  }

  string au_name;
  string au_temp;  // the temporary file while it exists, else empty
  int au_fd = -1;
};

// Walks the marker list and writes the audio of the APP2 segments from the
// fifth on.  When the container library reports damage after the output was
// created, the audio extracted so far is kept under the output name and the
// damage is then reported; should keeping it fail, that failure is reported
// instead (one report line per photograph).
void extractAudio(jfif& jfif_file) {
  int app2count = 0;
  audioFile out;
  jfif_marker m;
  jfif_file.rewind();
  for (;;) {
    try {
      m = jfif_file.nextMarker(jfif_marker::jm_nada);
    } catch (const misc_error&) {
      if (out.created()) out.keep();
      throw;
    }
    if (m == jfif_marker::null) break;
    if (m.type() != jfif_marker::jm_app2) continue;
    if (++app2count <= 4) continue;
    if (!out.created()) {
      string n = jfif_file.name();
      n += ".wav";
      cout << "RIFF file " << n << endl;
      out.create(n);
    }
    const uint32_t skip = app2count == 5 ? firstAudioSkip : laterAudioSkip;
    if (m.len() > skip) out.write(m.data() + skip, m.len() - skip);  // shorter: no audio
  }
  if (out.created()) out.keep();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) cerr << "Usage: sonlift p0000001.jpg [ p0000002.jpg ... ]" << endl;

  for (int i = 1; i < argc; ++i) {
    try {
      jfif jfif_file(argv[i]);
      jpegHeader j1(jfif_file);
      exifHeader e1(jfif_file);
      if (!j1.wellFormed() && !e1.wellFormed()) throw misc_error("", " is not a JPEG or EXIF file");
      jfif_file.buildMarkerList(0);
      cout << "JFIF file " << jfif_file.name() << ":" << endl;
      extractAudio(jfif_file);
    } catch (const misc_error& me) {
      cerr << "chronel:" << me.msg1() << " " << argv[i] << me.msg2() << "." << endl;
    }
  }
  return 0;
}
