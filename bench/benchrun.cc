// benchrun: times commands over a list of files, side by side.
//
//   benchrun --plan PLAN --files LIST --rounds R [--warmup W] --outdir DIR
//            --results OUT [--exec BENCHEXEC] [--spent DIR] [--cold]
//
// PLAN has one command per line, fields separated by tabs:
//   label  job  flags  program  argument...
// where an argument "@FILES" stands for every file of LIST (one path a
// line), and "@FILES:OTHER" for every file of the list OTHER, so each
// command handles all its files in one process.  flags is "-", or a
// comma-separated list of: "wav": the command writes FILE.wav beside each
// of its files; those are counted and moved into the spent directory
// (DIR/spent unless named) after every run, so that each run starts from
// the same state.  "each": the command runs once per file instead, with
// the file in place of its "@FILES" argument, the runs timed as a whole
// (benchexec --each).
//
// --cold: before every run, every page of the command's files is dropped
// from the page cache (posix_fadvise POSIX_FADV_DONTNEED, which needs no
// privilege and touches no other file), and mincore checks how much stayed.
//
// After W untimed rounds (which also fill the page cache), R rounds run
// every command once each (up to ten times, back to back, for a command
// that takes less than a tenth of a second); the order rotates from round
// to round so that no command always follows the same one.  A command's
// standard output and error go to DIR/N.out and DIR/N.err (N its line
// number, from 1).  For each command OUT gets one tab-separated line:
//   label job runs wall_median wall_min wall_max cpu_median maxrss_kib
//   status out_lines err_lines wav_files files cold_resident
// with times in seconds, maxrss the largest peak resident set of any run
// (as benchexec measures it), status "ok" or what went wrong, the line
// counts from the last run's output files, wav_files the count of the last
// run, files the number of file arguments (photographs handled), and
// cold_resident the largest share (in per cent) of the files' pages found
// still cached right after a drop ("-" when not cold).
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct command {
  std::string label, job;
  bool wav = false;
  bool each = false;
  std::vector<std::string> argv;
  std::vector<std::string> files;  // the file arguments
  int reps = 1;  // runs per round
  std::vector<double> wall, cpu;
  long maxrssKib = 0;
  std::string status = "ok";
  long wavFiles = 0;
  double coldResident = 0;  // per cent
};

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) out.push_back(field);
  return out;
}

// The paths of a list file, one a line.
std::vector<std::string> readList(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

long countLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  long n = 0;
  char buf[1 << 16];
  while (in.read(buf, sizeof buf) || in.gcount())
    n += std::count(buf, buf + in.gcount(), '\n');
  return n;
}

// Drops every page of the files from the page cache; returns the share of
// their pages (in per cent) that mincore still finds cached afterwards.
// Dirty pages are written first, since the kernel keeps those.
double dropFromCache(const std::vector<std::string>& files) {
  std::vector<std::string> seen(files);
  std::sort(seen.begin(), seen.end());
  seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
  const long page = ::sysconf(_SC_PAGESIZE);
  unsigned long long pages = 0, resident = 0;
  std::vector<unsigned char> vec;
  for (const std::string& f : seen) {
    const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      const size_t len = static_cast<size_t>(st.st_size);
      void* map = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, 0);
      if (map != MAP_FAILED) {
        vec.assign((len + page - 1) / page, 0);
        if (::mincore(map, len, vec.data()) == 0) {
          pages += vec.size();
          for (unsigned char v : vec) resident += v & 1;
        }
        ::munmap(map, len);
      }
    }
    ::close(fd);
  }
  return pages ? 100.0 * static_cast<double>(resident) / static_cast<double>(pages) : 0;
}

long spentCount = 0;  // files moved into the spent directory so far

// Takes FILE.wav away for every file; returns how many there were.  They
// are moved into the spent directory, for the caller to remove once all
// timing is done, rather than deleted: ext4 without a journal passes over
// inodes deleted in the last minutes one by one when it allocates new ones,
// which would charge the next command for this clean-up.  Where a move
// fails (another file system), they are deleted.
long takeWavsAway(const std::vector<std::string>& files, const std::string& spent) {
  long n = 0;
  for (const std::string& f : files) {
    const std::string wav = f + ".wav";
    const std::string to = spent + "/" + std::to_string(::getpid()) + "-" +
                           std::to_string(spentCount + 1) + ".wav";
    if (::rename(wav.c_str(), to.c_str()) == 0) {
      ++spentCount;
      ++n;
    } else if (::unlink(wav.c_str()) == 0) {
      ++n;
    }
  }
  return n;
}

// Runs one command to its end, through benchexec, with its output in the
// given files.
double runOnce(command& c, const std::string& exec, const std::string& out, const std::string& err,
               bool timed, const std::string& eachList) {
  std::vector<char*> args;
  std::string execName = exec, outName = out, errName = err, eachOpt = "--each", list = eachList;
  args.push_back(execName.data());
  args.push_back(outName.data());
  args.push_back(errName.data());
  if (c.each) {
    args.push_back(eachOpt.data());
    args.push_back(list.data());
  }
  for (std::string& s : c.argv) args.push_back(s.data());
  args.push_back(nullptr);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    std::perror("benchrun: pipe");
    std::exit(1);
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("benchrun: fork");
    std::exit(1);
  }
  if (pid == 0) {
    if (::dup2(pipeFds[1], 1) < 0) ::_exit(127);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buf[256];
  for (ssize_t got; (got = ::read(pipeFds[0], buf, sizeof buf)) != 0;) {
    if (got < 0) {
      if (errno == EINTR) continue;
      break;
    }
    report.append(buf, static_cast<size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  double wall = 0, cpu = 0;
  long rss = 0;
  int code = -1;
  if (std::sscanf(report.c_str(), "%lf %lf %ld %d", &wall, &cpu, &rss, &code) != 4) {
    std::cerr << "benchrun: " << exec << " reported nothing for " << c.label << "\n";
    std::exit(1);
  }
  if (code == 127 && c.status == "ok") c.status = "could not be started";
  else if (code > 128 && c.status == "ok") c.status = "killed by signal " + std::to_string(code - 128);
  else if (code != 0 && c.status == "ok") c.status = "exit status " + std::to_string(code);
  if (timed) {
    c.wall.push_back(wall);
    c.cpu.push_back(cpu);
    c.maxrssKib = std::max(c.maxrssKib, rss);
  }
  return wall;
}

[[noreturn]] void usage() {
  std::cerr << "usage: benchrun --plan PLAN --files LIST --rounds R [--warmup W] --outdir DIR"
               " --results OUT\n";
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string planPath, listPath, outDir, resultsPath, spent;
  // benchexec is looked for beside this program unless named.
  std::string exec = argv[0];
  exec = exec.find('/') == std::string::npos ? "benchexec"
                                              : exec.substr(0, exec.rfind('/') + 1) + "benchexec";
  int rounds = 5, warmup = 1;
  bool cold = false;
  for (int a = 1; a < argc; ++a) {
    const std::string opt = argv[a];
    if (opt == "--cold") {
      cold = true;
      continue;
    }
    if (a + 1 >= argc) usage();
    const std::string val = argv[++a];
    if (opt == "--plan") planPath = val;
    else if (opt == "--files") listPath = val;
    else if (opt == "--rounds") rounds = std::atoi(val.c_str());
    else if (opt == "--warmup") warmup = std::atoi(val.c_str());
    else if (opt == "--outdir") outDir = val;
    else if (opt == "--results") resultsPath = val;
    else if (opt == "--exec") exec = val;
    else if (opt == "--spent") spent = val;
    else usage();
  }
  if (planPath.empty() || listPath.empty() || outDir.empty() || resultsPath.empty() || rounds < 1)
    usage();

  const std::vector<std::string> files = readList(listPath);
  std::vector<command> commands;
  {
    std::ifstream in(planPath);
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      std::vector<std::string> f = split(line, '\t');
      if (f.size() < 4) {
        std::cerr << "benchrun: bad plan line: " << line << "\n";
        return 2;
      }
      command c;
      c.label = f[0];
      c.job = f[1];
      for (const std::string& flag : split(f[2], ',')) {
        if (flag == "wav") c.wav = true;
        else if (flag == "each") c.each = true;
      }
      for (size_t k = 3; k < f.size(); ++k) {
        if (f[k] == "@FILES" || f[k].compare(0, 7, "@FILES:") == 0) {
          const std::vector<std::string> list = f[k] == "@FILES" ? files : readList(f[k].substr(7));
          if (c.each) c.argv.push_back("@FILE");
          else c.argv.insert(c.argv.end(), list.begin(), list.end());
          c.files.insert(c.files.end(), list.begin(), list.end());
        } else {
          c.argv.push_back(f[k]);
        }
      }
      commands.push_back(std::move(c));
    }
  }
  if (files.empty() || commands.empty()) {
    std::cerr << "benchrun: no files or no commands\n";
    return 2;
  }

  if (spent.empty()) spent = outDir + "/spent";
  ::mkdir(spent.c_str(), 0755);
  for (size_t k = 0; k < commands.size(); ++k) {
    const command& c = commands[k];
    if (c.wav) takeWavsAway(c.files, spent);
    if (c.each) {
      std::ofstream list(outDir + "/" + std::to_string(k + 1) + ".list");
      for (const std::string& f : c.files) list << f << '\n';
    }
  }
  const size_t n = commands.size();
  for (int r = -warmup; r < rounds; ++r) {
    const bool timed = r >= 0;
    for (size_t k = 0; k < n; ++k) {
      const size_t idx = (k + static_cast<size_t>(r + warmup)) % n;
      command& c = commands[idx];
      const std::string base = outDir + "/" + std::to_string(idx + 1);
      for (int rep = 0; rep < (timed ? c.reps : 1); ++rep) {
        if (cold) c.coldResident = std::max(c.coldResident, dropFromCache(c.files));
        const double wall = runOnce(c, exec, base + ".out", base + ".err", timed, base + ".list");
        if (c.wav) c.wavFiles = takeWavsAway(c.files, spent);
        // A command over in a few milliseconds is at the mercy of every
        // other process on the machine: it runs several times a round, so
        // that its median rests on more runs.
        if (!timed && wall > 0) c.reps = std::max(c.reps, std::min(10, int(0.1 / wall) + 1));
        if (timed)
          std::fprintf(stderr, "  round %d/%d  %-34s %8.3f s\n", r + 1, rounds, c.label.c_str(),
                       wall);
        else
          std::fprintf(stderr, "  warm-up %d/%d  %s\n", r + warmup + 1, warmup, c.label.c_str());
      }
    }
  }

  std::ofstream out(resultsPath);
  for (size_t k = 0; k < n; ++k) {
    const command& c = commands[k];
    const std::string base = outDir + "/" + std::to_string(k + 1);
    out << c.label << '\t' << c.job << '\t' << c.wall.size() << '\t' << median(c.wall) << '\t'
        << *std::min_element(c.wall.begin(), c.wall.end()) << '\t'
        << *std::max_element(c.wall.begin(), c.wall.end()) << '\t' << median(c.cpu) << '\t'
        << c.maxrssKib << '\t' << c.status << '\t' << countLines(base + ".out") << '\t'
        << countLines(base + ".err") << '\t' << c.wavFiles << '\t' << c.files.size() << '\t';
    if (cold) out << c.coldResident << '\n';
    else out << "-\n";
  }
  if (!out) {
    std::cerr << "benchrun: cannot write " << resultsPath << "\n";
    return 1;
  }
  return 0;
}
