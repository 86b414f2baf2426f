// sonlift: copies the audio stream that a photograph carries in its APP2
// segments (the fifth from position 45, every later one from position 17)
// into a file named like the photograph with ".wav" appended.
//
// When the stream there does not begin with a RIFF WAVE header (other APP2
// data, ICC profiles or multi-picture directories, came first), or the
// photograph has four APP2 segments or fewer, the clip is looked for as a
// FlashPix stream (flashpix.h), and written the same way.  Without a clip
// there, the photograph holds no audio: no file is written, and with five
// APP2 segments or more the report line says what the fifth holds.
//
// The stream is written to a new temporary file beside the photograph and
// renamed onto the output name only when it is complete, so an older file of
// that name never keeps stale bytes, a symbolic link planted there is
// replaced rather than followed, and a failure never leaves a half-written
// output behind.  An older file keeps its permission bits (and its owner and
// group where the caller may give them).  When the directory cannot take a
// new file but the older one is writable, that file is written in place,
// truncated first.  A failed create, write, close or rename ends the
// photograph with a report line.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "byteReader.h"
#include "exceptions.h"
#include "exifHeader.h"
#include "flashpix.h"
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

// Random letters for temporary names.
string randomSuffix(size_t length) {
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
  for (size_t k = 0; k < length; ++k) {
    state ^= state << 13;  // xorshift64
    state ^= state >> 7;
    state ^= state << 17;
    s += letters[state % (sizeof letters - 1)];
  }
  return s;
}

// One photograph's output file.  Created exclusively under a temporary name
// in the output's directory (permission bits 0666 reduced by the umask, or
// those of the file it replaces), filled with complete writes, then closed
// and renamed onto the output name by keep().  Until keep() has succeeded,
// destroying the object closes and removes the temporary file, whatever path
// the photograph took.  Written in place, the older file is only closed.
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
    struct stat old;
    au_replaces = ::lstat(au_name.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (au_replaces) au_old = old;
    // Private until keep() gives it the older file's bits and owner.
    const mode_t mode = au_replaces ? 0600 : 0666;
    // The usual name is 19 bytes; on a path that leaves no room for it, one
    // as long as the output's own last component.
    const size_t outputLength = au_name.size() - dir.size();
    bool shortName = false;
    int err = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      const string temp = dir + (shortName ? "." + randomSuffix(outputLength > 1 ? outputLength - 1 : 1)
                                           : ".sonlift-" + randomSuffix(10));
      int fd = ::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
      if (fd >= 0) {
        au_fd = fd;
        au_temp = temp;
        return;
      }
      err = errno;
      if (err == ENAMETOOLONG && !shortName && outputLength < 19) {
        shortName = true;
        continue;
      }
      if (err != EEXIST) break;
    }
    if (au_replaces && writeInPlace()) return;
    throw file_error(writeFailure, err);
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
    if (!au_temp.empty() && au_replaces) {
      // The owner first: a change of owner may clear permission bits.
      if (::fchown(au_fd, au_old.st_uid, au_old.st_gid) != 0)
        (void)!::fchown(au_fd, static_cast<uid_t>(-1), au_old.st_gid);  // at least the group
      if (::fchmod(au_fd, au_old.st_mode & 0777) != 0) throw file_error(writeFailure);
    }
    int fd = au_fd;
    au_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) throw file_error(writeFailure);
    if (au_temp.empty()) return;  // written in place
    if (::rename(au_temp.c_str(), au_name.c_str()) != 0) throw file_error(renameFailure);
    au_temp.clear();
  }

 private:
  // Opens the older output file itself, when it is a regular file the caller
  // may write, and empties it.  Returns false, errno untouched, otherwise.
  bool writeInPlace() {
    const int saved = errno;
    int fd = ::open(au_name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == au_old.st_dev &&
        st.st_ino == au_old.st_ino && ::ftruncate(fd, 0) == 0) {
      au_fd = fd;
      return true;
    }
    if (fd >= 0) ::close(fd);
    errno = saved;
    return false;
  }

  void discard() {
    if (au_fd >= 0) ::close(au_fd);
    au_fd = -1;
    if (!au_temp.empty()) ::unlink(au_temp.c_str());
    au_temp.clear();
  }

  string au_name;
  string au_temp;  // the temporary file while it exists, else empty
  int au_fd = -1;
  bool au_replaces = false;  // an older regular file stands at au_name
  struct stat au_old = {};   // and these are its owner and mode
};

// A RIFF WAVE stream begins with "RIFF", its length in four bytes, "WAVE".
constexpr size_t riffHeaderSize = 12;

bool isRiffWave(const unsigned char* head) {
  return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

// What an APP2 segment that is no audio holds, from the identifier that
// follows its length field: the kinds cameras write by name, another
// printable identifier quoted, else unknown data.
string segmentKind(const jfif_marker& m) {
  const byteReader r(m.data(), m.len());
  // Up to 15 printable characters, ended by a NUL or the segment's end.
  string id;
  for (uint64_t pos = 4;; ++pos) {
    uint8_t c;
    if (!r.u8At(pos, c) || c == 0) break;
    if (c < 0x20 || c > 0x7E || id.size() == 15) return "unknown data";
    id += static_cast<char>(c);
  }
  if (id == "ICC_PROFILE" || id == "MPF" || id == "FPXR") return id + " data";
  if (id.empty()) return "unknown data";
  return "\"" + id + "\" data";
}

misc_error noAudio(const jfif_marker& first) {
  const string text =
      " holds no audio: its fifth APP2 segment is " + segmentKind(first) + ", not a RIFF stream";
  return misc_error("", text.c_str());
}

misc_error incompleteClip(const fpxClip& clip) {
  const string text = " holds an incomplete sound clip: " + std::to_string(clip.missing()) +
                      " of its " + std::to_string(clip.size) + " bytes are missing";
  return misc_error("", text.c_str());
}

// The clip as a FlashPix stream, for a photograph whose fixed positions
// give none.  Written like theirs; then damage that ended the marker list,
// or else bytes missing from the stream, are reported.  Without a clip,
// throws `none` when there is one, else writes nothing.
void extractFlashPix(jfif& jfif_file, const std::optional<misc_error>& none) {
  const fpxClip clip = findFlashPixClip(jfif_file);
  if (!clip.found()) {
    if (none) throw *none;
    return;
  }
  string name = jfif_file.name();
  name += ".wav";
  cout << "RIFF file " << name << endl;
  audioFile out;
  out.create(name);
  for (const fpxPiece& p : clip.pieces) out.write(p.data, p.size);
  out.keep();
  if (clip.damage) throw *clip.damage;
  if (clip.missing()) throw incompleteClip(clip);
}

// Walks the marker list and writes the audio of the APP2 segments from the
// fifth on.  The audio is held back until its first 12 bytes show a RIFF
// WAVE header; only then is the output announced and created.  When the
// container library reports damage after the output was created, the audio
// extracted so far is kept under the output name and the damage is then
// reported; should keeping it fail, that failure is reported instead (one
// report line per photograph).  Without a RIFF header at the fixed
// positions, at the end of the list or at damage, the clip is looked for
// as a FlashPix stream.
void extractAudio(jfif& jfif_file) {
  int app2count = 0;
  audioFile out;
  jfif_marker m, first;
  std::vector<std::pair<const unsigned char*, size_t>> held;  // audio before the header is known
  unsigned char head[riffHeaderSize];
  size_t headBytes = 0;
  bool riff = false;
  jfif_file.rewind();
  for (;;) {
    try {
      m = jfif_file.nextMarker(jfif_marker::jm_nada);
    } catch (const misc_error&) {
      if (out.created()) out.keep();
      else extractFlashPix(jfif_file, std::nullopt);  // a clip before the damage
      throw;
    }
    if (m == jfif_marker::null) break;
    if (m.type() != jfif_marker::jm_app2) continue;
    if (++app2count <= 4) continue;
    if (app2count == 5) first = m;
    const uint32_t skip = app2count == 5 ? firstAudioSkip : laterAudioSkip;
    if (m.len() <= skip) continue;  // too short: no audio
    const unsigned char* audio = m.data() + skip;
    const size_t n = m.len() - skip;
    if (riff) {
      out.write(audio, n);
      continue;
    }
    held.emplace_back(audio, n);
    const size_t take = std::min(n, riffHeaderSize - headBytes);
    std::memcpy(head + headBytes, audio, take);
    headBytes += take;
    if (headBytes < riffHeaderSize) continue;
    if (!isRiffWave(head)) return extractFlashPix(jfif_file, noAudio(first));
    riff = true;
    string name = jfif_file.name();
    name += ".wav";
    cout << "RIFF file " << name << endl;
    out.create(name);
    for (const auto& h : held) out.write(h.first, h.second);
    held.clear();
  }
  if (!riff) {
    std::optional<misc_error> none;
    if (app2count >= 5) none = noAudio(first);
    return extractFlashPix(jfif_file, none);
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
