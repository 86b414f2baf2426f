#!/bin/bash
# The benchmark: the tools against their peers and against the cost of
# merely reading the files.  `make bench` builds the programs and runs this;
# it can also be run by hand on a build made with -DORVANE_BENCH=ON:
#
#   bench/run.sh BUILD_DIR
#
# Settings (environment variables, all optional; see bench/README.md):
#   BENCH_CORPUS        where the photographs go        (BUILD_DIR/corpus)
#   BENCH_COUNT         photographs in the standard corpus          (1000)
#   BENCH_SIZE_MB       size of one photograph, in MB (10^6 bytes)   (3.4)
#   BENCH_SCALE         size factor of the large corpus               (10)
#   BENCH_LARGE_COUNT   photographs in the large corpus              (200)
#   BENCH_ROUNDS        timed rounds per command; medians are shown    (5)
#   BENCH_AUDIO_SECONDS sound clip carried in APP2 segments; 0: none  (10)
#   BENCH_PEERS         peers to time, where installed (exiftool exiv2 jhead)
#   BENCH_CALLGRIND     1: count chronel's instructions with callgrind  (1)
#   BENCH_INSTALL       1: install what is missing with apt-get (as root),
#                       0: only say what to install           (1 as root)
#   BENCH_SETTLE        seconds to let pass after the benchmark deleted
#                       many files, before timing (360; see below)
#   BENCH_ONLY          "standard" or "large": run one corpus only;
#                       "corpus": make both corpora and stop
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: bench/run.sh BUILD_DIR}" && pwd)
bin=$build/bench

count=${BENCH_COUNT:-1000}
size_mb=${BENCH_SIZE_MB:-3.4}
scale=${BENCH_SCALE:-10}
large_count=${BENCH_LARGE_COUNT:-200}
rounds=${BENCH_ROUNDS:-5}
audio=${BENCH_AUDIO_SECONDS:-10}
peers=${BENCH_PEERS:-exiftool exiv2 jhead}
use_callgrind=${BENCH_CALLGRIND:-1}
only=${BENCH_ONLY:-}
settle=${BENCH_SETTLE:-360}
corpus=${BENCH_CORPUS:-$build/corpus}
if [[ $(id -u) == 0 ]]; then install=${BENCH_INSTALL:-1}; else install=${BENCH_INSTALL:-0}; fi

# Bumped whenever the photographs' recipe changes, so old corpora are remade.
recipe=3

say() { printf '%s\n' "$*"; }
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }

for p in chronel segdump glossel sonlift; do
  [[ -x $build/$p ]] || die "$build/$p is missing: build with make bench"
done
for p in benchpicture benchcorpus benchfloor benchrun benchexec; do
  [[ -x $bin/$p ]] || die "$bin/$p is missing: configure with -DORVANE_BENCH=ON (make bench does)"
done

# --- what the benchmark needs, and the peers ---------------------------------
declare -A package=([cjpeg]=libjpeg-turbo-progs [valgrind]=valgrind [exiftool]=libimage-exiftool-perl
                    [exiv2]=exiv2 [jhead]=jhead)
wanted=(cjpeg)
[[ $use_callgrind == 1 ]] && wanted+=(valgrind)
for p in $peers; do
  [[ -n ${package[$p]:-} ]] || die "unknown peer $p (known: exiftool exiv2 jhead)"
  wanted+=("$p")
done
missing=()
for p in "${wanted[@]}"; do command -v "$p" >/dev/null || missing+=("${package[$p]}"); done
if ((${#missing[@]})); then
  if [[ $install == 1 ]] && command -v apt-get >/dev/null; then
    say "Installing ${missing[*]} ..."
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
      { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; } ||
      say "bench: could not install ${missing[*]}"
  else
    say "bench: missing: apt-get install ${missing[*]}"
  fi
fi
command -v cjpeg >/dev/null || die "cjpeg encodes the image streams: apt-get install libjpeg-turbo-progs"
present_peers=()
for p in $peers; do
  if command -v "$p" >/dev/null; then present_peers+=("$p")
  else say "bench: peer $p is not installed and is left out (apt-get install ${package[$p]})"; fi
done
if [[ $use_callgrind == 1 ]] && ! command -v valgrind >/dev/null; then
  say "bench: valgrind is missing, no instruction counts (apt-get install valgrind)"
  use_callgrind=0
fi

# --- sizes, disk and memory ---------------------------------------------------
bytes_of() { awk -v mb="$1" -v f="${2:-1}" 'BEGIN { printf "%.0f", mb * f * 1000000 }'; }
std_bytes=$(bytes_of "$size_mb")
large_bytes=$(bytes_of "$size_mb" "$scale")
human() { awk -v b="$1" 'BEGIN { if (b >= 1e9) printf "%.1f GB", b / 1e9; else printf "%.1f MB", b / 1e6 }'; }

mkdir -p "$corpus"
corpus=$(cd "$corpus" && pwd)
need=0
[[ $only != large ]] && need=$((need + count * std_bytes))
[[ $only != standard ]] && need=$((need + large_count * large_bytes))
have_kib=$(df -Pk "$corpus" | awk 'NR == 2 { print $4 }')
already_kib=$(du -sk "$corpus" | awk '{ print $1 }')
if ((need / 1024 > have_kib + already_kib)); then
  die "the corpora need $(human $need) in $corpus, and only $(human $(((have_kib + already_kib) * 1024))) are free: set BENCH_CORPUS, BENCH_COUNT or BENCH_LARGE_COUNT"
fi
mem_kib=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)

# --- the corpora ------------------------------------------------------------
# A real encoder makes the image stream: libjpeg-turbo's cjpeg compresses
# the picture that benchpicture draws (a cloudy scene with sensor grain),
# 4:2:2 with the standard tables at quality 92, as a camera does, at the
# pixel count that makes the photograph `target` bytes (found by trying:
# about 13 Mpx for 3.4 MB).  The thumbnail is the same scene at 160x120.
make_stream() {  # target-bytes dir
  local target=$1 dir=$2 tmp=$2/tune
  local px w h size try
  px=$(awk -v t="$target" 'BEGIN { printf "%.0f", t / 0.26 }')
  rm -rf "$tmp" && mkdir -p "$tmp"
  for try in 1 2 3 4; do
    w=$(awk -v p="$px" 'BEGIN { printf "%d", int(sqrt(p * 4 / 3) / 16 + 0.5) * 16 }')
    h=$((w * 3 / 4 / 16 * 16))
    ((w <= 65500)) || die "a photograph of $(human "$target") needs more than 65500 pixels a row"
    say "  encoding a ${w}x${h} image stream (cjpeg) ..."
    "$bin/benchpicture" "$w" "$h" | cjpeg -quality 92 -sample 2x1 >"$dir/stream.jpg" ||
      die "cjpeg failed"
    "$bin/benchpicture" 160 120 0 | cjpeg -quality 75 >"$dir/thumb.jpg" || die "cjpeg failed"
    "$bin/benchcorpus" --stream "$dir/stream.jpg" --thumb "$dir/thumb.jpg" --out "$tmp" \
      --count 1 --audio-seconds "$audio"
    size=$(stat -c %s "$tmp/p0000001.jpg")
    rm -f "$tmp/p0000001.jpg"
    awk -v s="$size" -v t="$target" 'BEGIN { exit !(s > t * 0.98 && s < t * 1.02) }' && break
    px=$(awk -v p="$px" -v s="$size" -v t="$target" 'BEGIN { printf "%.0f", p * t / s }')
  done
  rmdir "$tmp"
}

# ext4 without a journal passes over inodes deleted in the last few minutes
# one by one when it creates files, which makes sonlift (one new file per
# photograph) several times slower for a while after many deletions.  The
# benchmark notes when it deleted many files, and waits before timing.
deleted_stamp=$corpus/.deleted-at
note_deletion() { date +%s >"$deleted_stamp"; }
settle_after_deletions() {
  [[ -f $deleted_stamp ]] || return 0
  local left=$(($(cat "$deleted_stamp") + settle - $(date +%s)))
  if ((left > 0)); then
    say "waiting ${left} s: many files were deleted here lately, and creating files is slow for some minutes after that on ext4 without a journal (BENCH_SETTLE=0 skips this)"
    sleep "$left"
  fi
}

make_corpus() {  # name target-bytes count
  local name=$1 target=$2 n=$3 dir=$corpus/$1
  local stamp="recipe=$recipe target=$target audio=$audio"
  if [[ -f $dir/stamp && $(cat "$dir/stamp") == "$stamp" && -f $dir/stream.jpg ]]; then
    local have
    have=$(find "$dir/photos" -name 'p*.jpg' 2>/dev/null | wc -l)
    if ((have >= n)); then
      say "$name corpus: reusing $dir"
      return
    fi
  else
    [[ -d $dir ]] && { rm -rf "$dir"; note_deletion; }
    mkdir -p "$dir"
    say "$name corpus: making the image stream for photographs of $(human "$target")"
    make_stream "$target" "$dir"
    printf '%s\n' "$stamp" >"$dir/stamp"
  fi
  mkdir -p "$dir/photos"
  local have
  have=$(find "$dir/photos" -name 'p*.jpg' | wc -l)
  say "$name corpus: writing photographs $((have + 1)) to $n in $dir/photos"
  "$bin/benchcorpus" --stream "$dir/stream.jpg" --thumb "$dir/thumb.jpg" --out "$dir/photos" \
    --first $((have + 1)) --count $((n - have)) --audio-seconds "$audio"
}

# --- one table ---------------------------------------------------------------
# Every command handles all files of the corpus in one process.
write_plan() {  # plan-file distinct-list
  local t=$'\t'
  {
    echo "floor: open + 64 KB + close${t}floor64${t}-${t}$bin/benchfloor${t}head${t}@FILES"
    echo "floor: open + whole file + close${t}floorall${t}-${t}$bin/benchfloor${t}whole${t}@FILES"
    echo "chronel${t}date${t}-${t}$build/chronel${t}@FILES"
    echo "chronel -q${t}date-q${t}-${t}$build/chronel${t}-q${t}@FILES"
    echo "segdump${t}segments${t}-${t}$build/segdump${t}@FILES"
    echo "glossel${t}comments${t}-${t}$build/glossel${t}@FILES"
    echo "sonlift${t}audio${t}wav${t}$build/sonlift${t}@FILES:$2"
    for p in "${present_peers[@]}"; do
      case $p in
        exiftool)
          echo "exiftool -fast2 -DateTimeOriginal${t}peer-date${t}-${t}exiftool${t}-fast2${t}-s3${t}-DateTimeOriginal${t}@FILES"
          echo "exiftool -fast2 -Comment${t}peer-comments${t}-${t}exiftool${t}-fast2${t}-s3${t}-Comment${t}@FILES" ;;
        exiv2)
          echo "exiv2 -K ...DateTimeOriginal${t}peer-date${t}-${t}exiv2${t}-q${t}-K${t}Exif.Photo.DateTimeOriginal${t}-Pv${t}pr${t}@FILES"
          echo "exiv2 -pc${t}peer-comments${t}-${t}exiv2${t}-q${t}-pc${t}@FILES" ;;
        jhead)
          echo "jhead${t}peer-date${t}-${t}jhead${t}@FILES" ;;
      esac
    done
  } >"$1"
}

cache_share() {  # list-file: share of the files' bytes in the page cache
  command -v fincore >/dev/null || { echo "?"; return; }
  xargs -a "$1" fincore -b -n -o RES,SIZE 2>/dev/null |
    awk '{ r += $1; s += $2 } END { if (s) printf "%.0f%%", 100 * r / s; else print "?" }'
}

# A corpus with fewer photographs than the standard count (the large one,
# to stay in the page cache) is named over and over on the command lines,
# so that every command handles as many photographs in one process, and
# process start-up weighs the same per photograph.  sonlift, which writes a
# file per photograph, gets each photograph once: writing the same output
# again would delete the earlier one, and deleted files make creating files
# slow (see benchrun.cc).
run_table() {  # name distinct-count
  local name=$1 dir=$corpus/$1 out=$build/bench-results/$1
  rm -rf "$out" && mkdir -p "$out"
  find "$dir/photos" -name 'p*.jpg' | sort | head -n "$2" >"$out/distinct"
  local n largest total
  n=$(wc -l <"$out/distinct")
  ((n > 0)) || die "no photographs in $dir/photos"
  : >"$out/files"
  while (($(wc -l <"$out/files") < count)); do cat "$out/distinct" >>"$out/files"; done
  head -n "$count" "$out/files" >"$out/files.tmp" && mv "$out/files.tmp" "$out/files"
  largest=$(xargs -a "$out/distinct" stat -c %s | sort -n | tail -1)
  total=$(xargs -a "$out/distinct" stat -c %s | awk '{ s += $1 } END { printf "%.0f", s }')
  write_plan "$out/plan" "$out/distinct"
  say ""
  say "== $name corpus: $n photographs, $(human $((total / n))) each, $(human "$total") in all"
  if ((n < count)); then
    say "   every command handles $count photographs: each is named $(((count + n - 1) / n)) times (sonlift: once)"
  fi
  if ((total / 1024 > mem_kib * 3 / 4)); then
    say "   (more than the page cache can hold on this machine: times include disk reads)"
  fi
  say "   warm-up round, then $rounds timed rounds, order rotating:"
  "$bin/benchrun" --plan "$out/plan" --files "$out/files" --rounds "$rounds" --warmup 1 \
    --outdir "$out" --results "$out/results" --exec "$bin/benchexec" --spent "$spent"
  printf '%s\t%s\t%s\t%s\n' "$n" "$largest" "$total" "$(cache_share "$out/distinct")" >"$out/corpus"
  print_table "$out"
}

print_table() {  # results-dir
  awk -F'\t' -v corpusfile="$1/corpus" '
    BEGIN { getline c < corpusfile; split(c, cf, "\t") }
    # Times per photograph: each command over its own number of files.
    { label[NR] = $1; job[NR] = $2; n = $13; med[NR] = $4 / n; lo[NR] = $5 / n; hi[NR] = $6 / n
      cpu[NR] = $7 / n; rss[NR] = $8; status[NR] = $9; byjob[$2] = NR; rows = NR }
    END {
      f64 = med[byjob["floor64"]]; fall = med[byjob["floorall"]]
      printf "   page cache held %s of the corpus after the runs\n\n", cf[4]
      printf "   %-34s %24s %7s %7s %7s %9s\n", "", "seconds per 1000 photographs", "", "x 64KB", "x whole", "peak RSS"
      printf "   %-34s %8s %15s %7s %7s %7s %9s\n", "command", "median", "(min - max)", "cpu", "floor", "floor", "MB"
      busy = 0
      for (i = 1; i <= rows; i++) {
        # Every command is single-threaded and its files are cached: wall
        # time well above CPU time means it waited for a processor.
        mark = med[i] > 1.25 * cpu[i] ? "*" : " "
        if (mark == "*") busy++
        printf "   %-34s %8.3f%s(%6.3f-%6.3f) %7.3f %7.2f %7.2f %9.1f%s\n", label[i], med[i] * 1000,
          mark, lo[i] * 1000, hi[i] * 1000, cpu[i] * 1000, med[i] / f64, med[i] / fall,
          rss[i] * 1024 / 1e6, status[i] == "ok" ? "" : "  [" status[i] "]"
      }
      if (busy)
        printf "   * wall time well above CPU time: the machine was busy; take the figures again when it is idle\n"
      printf "\n"
      for (i = 1; i <= rows; i++) {
        if (job[i] !~ /^peer-/) continue
        ours = substr(job[i], 6); o = byjob[ours]
        if (!o) continue
        r = med[o] / med[i]
        printf "   %-10s / %-34s = %7.4f  (%s)\n", label[o], label[i], r,
          r < 1 ? sprintf("%.1f times as fast", 1 / r) : sprintf("%.1f times as slow", r)
      }
    }' "$1/results"
}

# Sanity: every tool must really have done its job on every file.
check_outputs() {  # results-dir
  local out=$1 bad=0
  while IFS=$'\t' read -r label job runs m lo hi cpu rss status olines elines wavs n; do
    local want_out=
    case $job in
      date) want_out=$n ;;
      date-q) want_out=0 ;;
      comments) want_out=$((2 * n)) ;;
      audio) want_out=$((2 * n)) ;;
    esac
    if [[ $status != ok ]]; then say "   warning: $label: $status"; bad=1; fi
    if [[ $job != peer-* && $elines != 0 ]]; then
      say "   warning: $label wrote $elines lines on standard error (see $out)"; bad=1
    fi
    if [[ -n $want_out && $olines != "$want_out" ]]; then
      say "   warning: $label wrote $olines lines, expected $want_out"; bad=1
    fi
    if [[ $job == audio && $audio != 0 && $wavs != "$n" ]]; then
      say "   warning: $label wrote $wavs .wav files, expected $n"; bad=1
    fi
  done <"$out/results"
  return $bad
}

# --- instruction counts --------------------------------------------------------
# Instructions per photograph: the difference between a run over 10+k files
# and one over 10, divided by k, so start-up costs drop out.
instructions() {  # list-file program args...
  local list=$1 out
  shift
  out=$(mktemp -d)
  local a=10 b
  b=$(($(wc -l <"$list")))
  ((b > 110)) && b=110
  if ((b <= a)); then echo "?"; rm -rf "$out"; return; fi
  for k in $a $b; do
    head -n $k "$list" | xargs valgrind --tool=callgrind --callgrind-out-file="$out/cg.$k" \
      "$@" >/dev/null 2>"$out/log.$k" || true
  done
  local ia ib
  ia=$(awk '/^summary:/ { print $2 }' "$out/cg.$a")
  ib=$(awk '/^summary:/ { print $2 }' "$out/cg.$b")
  if [[ -n $ia && -n $ib ]]; then
    awk -v ia="$ia" -v ib="$ib" -v k=$((b - a)) 'BEGIN { printf "%.0f", (ib - ia) / k }'
  else
    echo "?"
  fi
  rm -rf "$out"
}

# --- goals --------------------------------------------------------------------
verdicts=()
goal() {  # holds(0/1) text
  if [[ $1 == 1 ]]; then verdicts+=("holds   $2"); else verdicts+=("MISSED  $2"); fi
}
le() { awk -v x="$1" -v y="$2" 'BEGIN { exit !(x + 0 <= y + 0 && x != "nan") }' && echo 1 || echo 0; }

# Compares two commands of a results file, per photograph: the first picked
# by its job, the second by its job and the start of its label.  Prints
# "ratio wall-ratio cpu-ratio basis".  The ratio is that of the median wall times, unless
# either command's wall time is well above its CPU time: every command is
# single-threaded and reads cached files, so it then waited for a processor
# (the machine was busy), and the ratio of CPU times is the fair one.
compare() {  # results job-a job-b [label-prefix-b]
  awk -F'\t' -v a="$2" -v b="$3" -v p="${4:-}" '
    $2 == a && !wa { wa = $4 / $13; ca = $7 / $13 }
    $2 == b && index($1, p) == 1 && !wb { wb = $4 / $13; cb = $7 / $13 }
    END {
      if (!wa || !wb || !ca || !cb) { print "nan nan nan wall"; exit }
      busy = wa > 1.25 * ca || wb > 1.25 * cb
      printf "%.3f %.3f %.3f %s\n", busy ? ca / cb : wa / wb, wa / wb, ca / cb, busy ? "cpu" : "wall"
    }' "$1"
}
# The goal's figure, said with what it rests on.
figure() {  # ratio wall-ratio cpu-ratio basis [what the ratio is of]
  if [[ $4 == cpu ]]; then
    echo "$1 x${5:+ $5} by CPU time (the machine was busy: wall time $2 x)"
  else
    echo "$1 x${5:+ $5} (CPU time $3 x)"
  fi
}

goals_for() {  # name results-dir
  local name=$1 r=$2/results largest c
  largest=$(cut -f2 "$2/corpus")
  read -ra c < <(compare "$r" date floor64)
  goal "$(le "${c[0]}" 1.5)" "chronel at most 1.5 x the 64 KB floor ($name corpus): $(figure "${c[@]}")"
  for p in "${present_peers[@]}"; do
    read -ra c < <(compare "$r" date peer-date "$p")
    goal "$(le "${c[0]}" 0.999)" "chronel faster than $p ($name corpus): $(figure "${c[@]}" "its time")"
  done
  for t in segments:segdump comments:glossel audio:sonlift; do
    read -ra c < <(compare "$r" "${t%%:*}" floorall)
    goal "$(le "${c[0]}" 1.5)" "${t#*:} at most 1.5 x the whole-file floor ($name corpus): $(figure "${c[@]}")"
  done
  local limit=$((largest + 4000000))
  while IFS=$'\t' read -r label job runs m lo hi cpu rss rest; do
    [[ $job == date || $job == date-q || $job == segments || $job == comments || $job == audio ]] || continue
    goal "$( ((rss * 1024 <= limit)) && echo 1 || echo 0)" \
      "$label peak memory at most the largest photograph + 4 MB ($name corpus): $(human $((rss * 1024))) of $(human $limit)"
  done <"$r"
}

# --- the run ----------------------------------------------------------------------
# sonlift's outputs are kept aside until all timing is done (see benchrun.cc).
spent=$build/bench-results/spent
remove_spent() {
  [[ -d $spent ]] || return 0
  if [[ -n $(ls -A "$spent") ]]; then
    rm -rf "$spent"
    note_deletion
  fi
  rm -rf "$spent"
}
remove_spent
mkdir -p "$spent"
trap remove_spent EXIT

say "orvane benchmark"
say "machine: $(lscpu | awk -F: '/^Model name/ { gsub(/^ +/, "", $2); print $2 }'), $(nproc) cores, $(awk '/^MemTotal:/ { printf "%.0f GiB RAM", $2 / 1048576 }' /proc/meminfo), $(uname -sr)"
say "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
say "peers: ${present_peers[*]:-none}"
[[ $audio != 0 ]] && say "every photograph carries a ${audio}-second sound clip in APP2 segments, which sonlift extracts"

[[ $only != large ]] && make_corpus standard "$std_bytes" "$count"
[[ $only != standard ]] && make_corpus large "$large_bytes" "$large_count"
[[ $only == corpus ]] && exit 0
if [[ $only != standard ]] && ((large_count < count)); then
  say "large corpus: $large_count photographs (not $count), so that its $(human $((large_count * large_bytes))) fit in the page cache; each is named $(((count + large_count - 1) / large_count)) times on the command lines (BENCH_LARGE_COUNT)"
fi

settle_after_deletions
ok=1
[[ $only != large ]] && { run_table standard "$count"; check_outputs "$build/bench-results/standard" || ok=0; }
[[ $only != standard ]] && { run_table large "$large_count"; check_outputs "$build/bench-results/large" || ok=0; }
# chronel over as many photographs of each corpus, side by side.
if [[ -z $only ]]; then
  out=$build/bench-results/sizes
  rm -rf "$out" && mkdir -p "$out"
  k=$count
  cp "$build/bench-results/standard/files" "$out/standard"
  cp "$build/bench-results/large/files" "$out/large"
  t=$'\t'
  {
    echo "floor 64 KB, standard${t}floor-standard${t}-${t}$bin/benchfloor${t}head${t}@FILES:$out/standard"
    echo "floor 64 KB, large${t}floor-large${t}-${t}$bin/benchfloor${t}head${t}@FILES:$out/large"
    echo "chronel, standard${t}chronel-standard${t}-${t}$build/chronel${t}@FILES:$out/standard"
    echo "chronel, large${t}chronel-large${t}-${t}$build/chronel${t}@FILES:$out/large"
  } >"$out/plan"
  say ""
  say "== chronel over $k photographs of each corpus, side by side"
  "$bin/benchrun" --plan "$out/plan" --files "$out/standard" --rounds "$rounds" --warmup 1 \
    --outdir "$out" --results "$out/results" --exec "$bin/benchexec" --spent "$spent" 2>/dev/null
  awk -F'\t' -v k="$k" '
    { t[$2] = $4; c[$2] = $7
      printf "   %-24s %8.1f us per photograph, CPU %6.1f us (medians of %d runs)\n", $1,
        1e6 * $4 / k, 1e6 * $7 / k, $3 }
    END { printf "   large / standard: floor %.3f x (CPU %.3f x), chronel %.3f x (CPU %.3f x)\n",
          t["floor-large"] / t["floor-standard"], c["floor-large"] / c["floor-standard"],
          t["chronel-large"] / t["chronel-standard"], c["chronel-large"] / c["chronel-standard"] }' "$out/results"
fi

say ""
say "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

ir_std=? ir_large=?
if [[ $use_callgrind == 1 ]]; then
  say ""
  say "== chronel's instructions per photograph (callgrind; user space only)"
  if [[ $only != large ]]; then
    ir_std=$(instructions "$build/bench-results/standard/files" "$build/chronel")
    say "   standard corpus: $ir_std"
  fi
  if [[ $only != standard ]]; then
    ir_large=$(instructions "$build/bench-results/large/files" "$build/chronel")
    say "   large corpus:    $ir_large"
  fi
fi

[[ $only != large ]] && goals_for standard "$build/bench-results/standard"
[[ $only != standard ]] && goals_for large "$build/bench-results/large"
if [[ -z $only ]]; then
  # Same time per photograph whatever the photograph's size: within 20%
  # (the noise of a shared machine), and instructions within 2%.
  read -ra c < <(compare "$build/bench-results/sizes/results" chronel-large chronel-standard)
  goal "$(le "${c[0]}" 1.2)" "chronel's time per photograph, large / standard corpus: $(figure "${c[@]}") (at most 1.2)"
  if [[ $ir_std != "?" && $ir_large != "?" ]]; then
    x=$(awk -v a="$ir_std" -v b="$ir_large" 'BEGIN { printf "%.3f", b / a }')
    goal "$(le "$x" 1.02)" "chronel's instructions per photograph, large / standard corpus: ${x} x (at most 1.02)"
  fi
fi

say ""
say "== Goals"
held=0 missed=0
for v in "${verdicts[@]}"; do
  say "   $v"
  if [[ $v == holds* ]]; then held=$((held + 1)); else missed=$((missed + 1)); fi
done
say "   $held goals hold, $missed missed"
((ok)) || say "   (see the warnings above: some outputs were not as expected)"
exit 0
