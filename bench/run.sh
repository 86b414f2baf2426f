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
#   BENCH_CAMERA_COUNT  photographs in the camera corpus             (250)
#   BENCH_MODES         modes to time: warm cold each       (warm each cold)
#   BENCH_EACH_ROUNDS   rounds of the one-process-per-photograph mode  (3)
#   BENCH_COLD_ROUNDS   rounds of the cold mode                        (3)
#   BENCH_EACH_SLOW     photographs for exiftool one process each     (100)
#   BENCH_QUICK         1: a quick subset, a few minutes (100 photographs a
#                       command, 3 rounds, small corpora)
#   BENCH_ONLY          "standard", "large" or "camera": run one corpus
#                       only; "corpus": make the corpora and stop
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: bench/run.sh BUILD_DIR}" && pwd)
bin=$build/bench

quick=${BENCH_QUICK:-0}
if [[ $quick == 1 ]]; then
  count=${BENCH_COUNT:-100} large_count=${BENCH_LARGE_COUNT:-20} camera_count=${BENCH_CAMERA_COUNT:-25}
  rounds=${BENCH_ROUNDS:-3} each_rounds=${BENCH_EACH_ROUNDS:-2} cold_rounds=${BENCH_COLD_ROUNDS:-2}
  each_slow=${BENCH_EACH_SLOW:-20}
else
  count=${BENCH_COUNT:-1000} large_count=${BENCH_LARGE_COUNT:-200} camera_count=${BENCH_CAMERA_COUNT:-250}
  rounds=${BENCH_ROUNDS:-5} each_rounds=${BENCH_EACH_ROUNDS:-3} cold_rounds=${BENCH_COLD_ROUNDS:-3}
  each_slow=${BENCH_EACH_SLOW:-100}
fi
modes=${BENCH_MODES:-warm each cold}
size_mb=${BENCH_SIZE_MB:-3.4}
scale=${BENCH_SCALE:-10}
audio=${BENCH_AUDIO_SECONDS:-10}
peers=${BENCH_PEERS:-exiftool exiv2 jhead}
use_callgrind=${BENCH_CALLGRIND:-1}
only=${BENCH_ONLY:-}
settle=${BENCH_SETTLE:-360}
corpus=${BENCH_CORPUS:-$build/corpus}
if [[ $(id -u) == 0 ]]; then install=${BENCH_INSTALL:-1}; else install=${BENCH_INSTALL:-0}; fi

# Bumped whenever the photographs' recipe changes, so old corpora are remade.
recipe=3
camera_recipe=2

say() { printf '%s\n' "$*"; }
die() { printf 'bench: %s\n' "$*" >&2; exit 1; }

for p in chronel segdump glossel sonlift; do
  [[ -x $build/$p ]] || die "$build/$p is missing: build with make bench"
done
for p in benchpicture benchcorpus benchfloor benchrun benchexec benchstart; do
  [[ -x $bin/$p ]] || die "$bin/$p is missing: configure with -DORVANE_BENCH=ON (make bench does)"
done

# --- what the benchmark needs, and the peers ---------------------------------
# The packages are listed once, in .ci/prereqs (step bench); as root they are
# installed, otherwise the missing ones are named and the benchmark goes on
# without what it lacks.
declare -A package=([exiftool]=libimage-exiftool-perl [exiv2]=exiv2 [jhead]=jhead)
for p in $peers; do
  [[ -n ${package[$p]:-} ]] || die "unknown peer $p (known: exiftool exiv2 jhead)"
done
if [[ $install == 1 ]]; then
  bash "$(dirname "$0")/../.ci/prereqs" bench || say "bench: could not install everything it uses"
else
  bash "$(dirname "$0")/../.ci/prereqs" --check bench || true
fi
command -v cjpeg >/dev/null && command -v jpegtran >/dev/null ||
  die "cjpeg and jpegtran make the image streams: apt-get install libjpeg-turbo-progs"
use_strace=1
command -v strace >/dev/null || { say "bench: strace is missing, no system call counts (apt-get install strace)"; use_strace=0; }
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
mb() { awk -v b="$1" 'BEGIN { printf "%.2f MB", b / 1e6 }'; }
human() { awk -v b="$1" 'BEGIN { if (b >= 1e9) printf "%.1f GB", b / 1e9; else printf "%.1f MB", b / 1e6 }'; }

mkdir -p "$corpus"
corpus=$(cd "$corpus" && pwd)
# The camera corpus: sizes spread over 1 to 40 MB, 20.5 MB on average.
camera_max_bytes=40000000
need=0
[[ $only == "" || $only == corpus || $only == standard ]] && need=$((need + count * std_bytes))
[[ $only == "" || $only == corpus || $only == large ]] && need=$((need + large_count * large_bytes))
[[ $only == "" || $only == corpus || $only == camera ]] && need=$((need + camera_count * 20500000))
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

# The camera corpus: one stream of about 40 MB, cut losslessly (jpegtran
# -crop) to eight sizes from 1 to 40 MB, and four thumbnails of 10 to 40
# KB; benchcorpus --camera picks one of each per photograph by a hash of its
# number, so that sizes come in shuffled order.
camera_sizes="1 6.5 12 17.5 23 28.5 34 40"
make_camera_corpus() {  # count
  local n=$1 dir=$corpus/camera
  local stamp="recipe=$camera_recipe sizes=$camera_sizes audio=$audio"
  if [[ -f $dir/stamp && $(cat "$dir/stamp") == "$stamp" ]]; then
    local have
    have=$(find "$dir/photos" -name 'p*.jpg' 2>/dev/null | wc -l)
    if ((have >= n)); then
      say "camera corpus: reusing $dir"
      return
    fi
  else
    [[ -d $dir ]] && { rm -rf "$dir"; note_deletion; }
    mkdir -p "$dir"
    local px w h
    px=$(awk -v t="$camera_max_bytes" 'BEGIN { printf "%.0f", t / 0.245 }')
    w=$(awk -v p="$px" 'BEGIN { printf "%d", int(sqrt(p * 4 / 3) / 16 + 0.5) * 16 }')
    h=$((w * 3 / 4 / 16 * 16))
    say "camera corpus: encoding a ${w}x${h} image stream (cjpeg) and cutting it to $camera_sizes MB (jpegtran)"
    "$bin/benchpicture" "$w" "$h" | cjpeg -quality 92 -sample 2x1 >"$dir/full.jpg" || die "cjpeg failed"
    local k=0 mb cw ch
    for mb in $camera_sizes; do
      k=$((k + 1))
      cw=$(awk -v w="$w" -v f="$mb" -v m="$camera_max_bytes" 'BEGIN { printf "%d", int(w * sqrt(f * 1e6 / m) / 16) * 16 }')
      ch=$(awk -v h="$h" -v f="$mb" -v m="$camera_max_bytes" 'BEGIN { printf "%d", int(h * sqrt(f * 1e6 / m) / 8) * 8 }')
      jpegtran -copy none -crop "${cw}x${ch}+0+0" "$dir/full.jpg" >"$dir/stream-$k.jpg" || die "jpegtran failed"
    done
    rm -f "$dir/full.jpg"
    k=0
    local thumb
    for thumb in "320 240 70" "320 240 90" "480 320 85" "640 480 76"; do
      k=$((k + 1))
      set -- $thumb
      "$bin/benchpicture" "$1" "$2" 0 | cjpeg -quality "$3" >"$dir/thumb-$k.jpg" || die "cjpeg failed"
    done
    printf '%s\n' "$stamp" >"$dir/stamp"
  fi
  mkdir -p "$dir/photos"
  local have args=()
  have=$(find "$dir/photos" -name 'p*.jpg' | wc -l)
  for f in "$dir"/stream-*.jpg; do args+=(--stream "$f"); done
  for f in "$dir"/thumb-*.jpg; do args+=(--thumb "$f"); done
  say "camera corpus: writing photographs $((have + 1)) to $n in $dir/photos"
  "$bin/benchcorpus" --camera "${args[@]}" --out "$dir/photos" \
    --first $((have + 1)) --count $((n - have)) --audio-seconds "$audio"
  # Written back now, so that the cold runs find clean pages to drop.
  sync
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
  sync
}

# --- the plans ----------------------------------------------------------------
# Plan lines: label, job, flags, program and arguments (see benchrun.cc).
# "@FILES:LIST" names the files of LIST; the default list is the corpus's
# photographs, as many as a command handles.  sonlift and the write floor,
# which write a file per photograph, get each photograph once (writing the
# same output again would delete the earlier one, and deleted files make
# creating files slow: see benchrun.cc).
TAB=$'\t'
plan_line() { local IFS=$TAB; echo "$*"; }

# exiftool's comment job, which costs as much as its date job, is timed on
# the standard corpus only.
peer_lines() {  # flags file-list [date-only | no-exiftool-comment]
  local f=$1 list=$2 p
  for p in "${present_peers[@]}"; do
    case $p in
      exiftool)
        plan_line "exiftool -fast2 -DateTimeOriginal" peer-date "$f" exiftool -fast2 -s3 -DateTimeOriginal "$list"
        [[ -z ${3:-} ]] && plan_line "exiftool -fast2 -Comment" peer-comments "$f" exiftool -fast2 -s3 -Comment "$list"
        ;;
      exiv2)
        plan_line "exiv2 -K ...DateTimeOriginal" peer-date "$f" exiv2 -q -K Exif.Photo.DateTimeOriginal -Pv pr "$list"
        [[ ${3:-} != date-only ]] && plan_line "exiv2 -pc" peer-comments "$f" exiv2 -q -pc "$list"
        ;;
      jhead)
        plan_line "jhead" peer-date "$f" jhead "$list" ;;
    esac
  done
  return 0
}

# warm: every command handles all its photographs in one process, cached.
plan_warm() {  # out-dir
  local d=$1/distinct
  plan_line "floor: open + 4 KB + close" floor4k - "$bin/benchfloor" head4k @FILES
  plan_line "floor: open + 64 KB + close" floor64 - "$bin/benchfloor" head @FILES
  plan_line "floor: open + whole file + close" floorall - "$bin/benchfloor" whole @FILES
  plan_line "floor: whole file + write clip" floorwrite wav "$bin/benchfloor" write "$clip_bytes" "@FILES:$d"
  plan_line "chronel" date - "$build/chronel" @FILES
  plan_line "chronel -q" date-q - "$build/chronel" -q @FILES
  plan_line "segdump" segments - "$build/segdump" @FILES
  plan_line "glossel" comments - "$build/glossel" @FILES
  plan_line "sonlift" audio wav "$build/sonlift" "@FILES:$d"
  peer_lines - @FILES "$([[ $1 != */standard ]] && echo no-exiftool-comment)"
}

# cold: the same, each photograph once, its pages dropped before every run.
plan_cold() {  # out-dir
  plan_line "floor: open + 4 KB + close" floor4k - "$bin/benchfloor" head4k @FILES
  plan_line "floor: open + 64 KB + close" floor64 - "$bin/benchfloor" head @FILES
  plan_line "floor: open + whole file + close" floorall - "$bin/benchfloor" whole @FILES
  plan_line "floor: whole file + write clip" floorwrite wav "$bin/benchfloor" write "$clip_bytes" @FILES
  plan_line "chronel" date - "$build/chronel" @FILES
  plan_line "chronel -q" date-q - "$build/chronel" -q @FILES
  plan_line "segdump" segments - "$build/segdump" @FILES
  plan_line "glossel" comments - "$build/glossel" @FILES
  plan_line "sonlift" audio wav "$build/sonlift" @FILES
  peer_lines - @FILES date-only
}

# each: one process per photograph; exiftool, which takes a tenth of a
# second to start, over fewer of them (its figures are scaled like all).
# The tools and floors that read whole photographs get each once: 200 or
# 250 runs of 20-34 MB each say as much as 1000, in a fifth of the time.
plan_each() {  # out-dir
  local d=$1/distinct
  plan_line "floor: start-up (prints a line)" start each "$bin/benchstart" @FILES
  plan_line "floor: open + 4 KB + close" floor4k each "$bin/benchfloor" head4k @FILES
  plan_line "floor: open + whole file + close" floorall each "$bin/benchfloor" whole "@FILES:$d"
  plan_line "floor: whole file + write clip" floorwrite each,wav "$bin/benchfloor" write "$clip_bytes" "@FILES:$d"
  plan_line "chronel" date each "$build/chronel" @FILES
  plan_line "segdump" segments each "$build/segdump" "@FILES:$d"
  plan_line "glossel" comments each "$build/glossel" "@FILES:$d"
  plan_line "sonlift" audio each,wav "$build/sonlift" "@FILES:$d"
  local p
  for p in "${present_peers[@]}"; do
    case $p in
      exiftool) plan_line "exiftool -fast2 -DateTimeOriginal" peer-date each exiftool -fast2 -s3 -DateTimeOriginal "@FILES:$1/slow" ;;
      exiv2) plan_line "exiv2 -K ...DateTimeOriginal" peer-date each exiv2 -q -K Exif.Photo.DateTimeOriginal -Pv pr @FILES ;;
      jhead) plan_line "jhead" peer-date each jhead @FILES ;;
    esac
  done
}

cache_share() {  # list-file: share of the files' bytes in the page cache
  command -v fincore >/dev/null || { echo "?"; return; }
  xargs -a "$1" fincore -b -n -o RES,SIZE 2>/dev/null |
    awk '{ r += $1; s += $2 } END { if (s) printf "%.0f%%", 100 * r / s; else print "?" }'
}

# The lists of a corpus: its distinct photographs (in name order, which is
# shuffled order of sizes in the camera corpus), and the $count photographs
# a command handles: a corpus with fewer (the large and camera ones, to stay
# in the page cache) is named over and over, so that every command handles
# as many photographs in one process, and start-up weighs the same per
# photograph.
prepare_corpus() {  # name distinct-count
  local name=$1 dir=$corpus/$1 out=$build/bench-results/$1
  rm -rf "$out" && mkdir -p "$out"
  # (Through a file: head leaving early would fail the pipeline.)
  find "$dir/photos" -name 'p*.jpg' | sort >"$out/all"
  head -n "$2" "$out/all" >"$out/distinct"
  local n largest total
  n=$(wc -l <"$out/distinct")
  ((n > 0)) || die "no photographs in $dir/photos"
  : >"$out/files"
  while (($(wc -l <"$out/files") < count)); do cat "$out/distinct" >>"$out/files"; done
  head -n "$count" "$out/files" >"$out/files.tmp" && mv "$out/files.tmp" "$out/files"
  head -n "$each_slow" "$out/files" >"$out/slow"
  largest=$(xargs -a "$out/distinct" stat -c %s | sort -n | tail -1)
  smallest=$(xargs -a "$out/distinct" stat -c %s | sort -n | awk 'NR == 1')
  total=$(xargs -a "$out/distinct" stat -c %s | awk '{ s += $1 } END { printf "%.0f", s }')
  printf '%s\t%s\t%s\t%s\n' "$n" "$largest" "$total" "$smallest" >"$out/corpus"
  say ""
  say "== $name corpus: $n photographs, $(human "$smallest") to $(human "$largest"), $(human $((total / n))) on average, $(human "$total") in all"
  if ((n < count)); then
    say "   warm and one process each: $count photographs, each named $(((count + n - 1) / n)) times (sonlift and the write floor: once); cold: each once"
  fi
  if ((total / 1024 > mem_kib * 3 / 4)); then
    say "   (more than the page cache can hold on this machine: warm times include disk reads)"
  fi
}

mode_title() {
  case $1 in
    warm) echo "warm page cache, one process for all photographs" ;;
    cold) echo "cold: every photograph dropped from the page cache before every run" ;;
    each) echo "one process per photograph" ;;
  esac
}

run_mode() {  # name mode
  local name=$1 mode=$2 out=$build/bench-results/$1/$2 top=$build/bench-results/$1
  rm -rf "$out" && mkdir -p "$out"
  local files=$top/files r=$rounds warm=1 extra=()
  case $mode in
    warm) plan_warm "$top" >"$out/plan" ;;
    cold) plan_cold "$top" >"$out/plan"; files=$top/distinct r=$cold_rounds warm=0 extra=(--cold) ;;
    each) plan_each "$top" >"$out/plan"; r=$each_rounds warm=0 ;;
  esac
  say ""
  say "-- $name corpus, $(mode_title "$mode"): $r timed rounds, order rotating"
  local t0=$SECONDS
  "$bin/benchrun" --plan "$out/plan" --files "$files" --rounds "$r" --warmup "$warm" "${extra[@]}" \
    --outdir "$out" --results "$out/results" --exec "$bin/benchexec" --spent "$spent" 2>"$out/log" ||
    die "benchrun failed: see $out/log"
  cp "$top/corpus" "$out/corpus"
  [[ $mode == warm ]] && say "   page cache held $(cache_share "$top/distinct") of the corpus after the runs (fincore)"
  print_table "$out" "$mode"
  say "   ($((SECONDS - t0)) s)"
  check_outputs "$out" || ok=0
}

print_table() {  # results-dir mode
  awk -F'\t' -v mode="$2" '
    # Times per photograph: each command over its own number of files.
    { label[NR] = $1; job[NR] = $2; n = $13; med[NR] = $4 / n; lo[NR] = $5 / n; hi[NR] = $6 / n
      cpu[NR] = $7 / n; rss[NR] = $8; status[NR] = $9; res[NR] = $14; byjob[$2] = NR; rows = NR }
    END {
      if (mode == "each") { a = "start"; an = "x start"; b = "floorall"; bn = "x whole" }
      else { a = "floor4k"; an = "x 4KB"; b = "floorall"; bn = "x whole" }
      fa = med[byjob[a]]; fb = med[byjob[b]]
      printf "   %-34s %24s %7s %7s %7s %9s%s\n", "", "seconds per 1000 photographs", "", an, bn, "peak RSS",
        mode == "cold" ? "  cached" : ""
      printf "   %-34s %8s %15s %7s %7s %7s %9s%s\n", "command", "median", "(min - max)", "cpu", "floor", "floor", "MB",
        mode == "cold" ? " at start" : ""
      busy = 0
      for (i = 1; i <= rows; i++) {
        # Warm, every command is single-threaded and its files are cached:
        # wall time well above CPU time means it waited for a processor.
        # Cold, it waited for the disk, which is the point.
        mark = mode != "cold" && med[i] > 1.25 * cpu[i] ? "*" : " "
        if (mark == "*") busy++
        printf "   %-34s %8.3f%s(%6.3f-%6.3f) %7.3f %7.2f %7.2f %9.1f%s%s\n", label[i], med[i] * 1000,
          mark, lo[i] * 1000, hi[i] * 1000, cpu[i] * 1000, med[i] / fa, med[i] / fb,
          rss[i] * 1024 / 1e6, mode == "cold" ? sprintf(" %8.1f%%", res[i]) : "",
          status[i] == "ok" ? "" : "  [" status[i] "]"
      }
      if (busy)
        printf "   * wall time well above CPU time: the machine was busy; goals rest on CPU time then\n"
      for (i = 1; i <= rows; i++) {
        if (job[i] !~ /^peer-/) continue
        ours = substr(job[i], 6); o = byjob[ours]
        if (!o) continue
        r = med[o] / med[i]; rc = cpu[o] / cpu[i]
        printf "   %-10s / %-34s = %7.3f, CPU %7.3f\n", label[o], label[i], r, rc
      }
    }' "$1/results"
}

# Sanity: every tool must really have done its job on every file.
check_outputs() {  # results-dir
  local out=$1 bad=0
  while IFS=$'\t' read -r label job runs m lo hi cpu rss status olines elines wavs n res; do
    local want_out=
    case $job in
      date) want_out=$n ;;
      date-q) want_out=0 ;;
      comments) want_out=$((2 * n)) ;;
      audio) want_out=$((2 * n)) ;;
      start) want_out=$n ;;
    esac
    if [[ $status != ok ]]; then say "   warning: $label: $status"; bad=1; fi
    if [[ $job != peer-* && $elines != 0 ]]; then
      say "   warning: $label wrote $elines lines on standard error (see $out)"; bad=1
    fi
    if [[ -n $want_out && $olines != "$want_out" ]]; then
      say "   warning: $label wrote $olines lines, expected $want_out"; bad=1
    fi
    if [[ ($job == audio || $job == floorwrite) && $audio != 0 && $wavs != "$n" ]]; then
      say "   warning: $label wrote $wavs .wav files, expected $n"; bad=1
    fi
  done <"$out/results"
  return $bad
}

# Moves the .wav files the counting runs left beside the photographs into
# the spent directory.
take_wavs_away() {  # list-file
  local f k=0
  while read -r f; do
    k=$((k + 1))
    [[ -e $f.wav ]] && mv "$f.wav" "$spent/counted-$$-$RANDOM-$k.wav"
  done <"$1"
  return 0
}

# --- counters per photograph ---------------------------------------------------
# Each tool runs over the first 10 and the first 10+k distinct photographs
# of a corpus; per photograph is the difference divided by k, so start-up
# drops out.  System calls and bytes read come from strace (-y names each
# descriptor's file; the bytes are what the read calls on the photograph's
# own descriptor returned, and "mapped" what was mapped of it);
# instructions from callgrind (user space only).  The start-up instructions
# are those of the 10-photograph run less ten photographs' worth.
counter_tools() {  # lines: name, program and arguments, tab-separated
  plan_line "floor: open + 4 KB + close" "$bin/benchfloor" head4k
  plan_line chronel "$build/chronel"
  plan_line segdump "$build/segdump"
  plan_line glossel "$build/glossel"
  plan_line sonlift "$build/sonlift"
  local p
  for p in "${present_peers[@]}"; do
    case $p in
      exiftool) plan_line "exiftool -fast2 -DateTimeOriginal" exiftool -fast2 -s3 -DateTimeOriginal ;;
      exiv2) plan_line "exiv2 -K ...DateTimeOriginal" exiv2 -q -K Exif.Photo.DateTimeOriginal -Pv pr ;;
      jhead) plan_line jhead jhead ;;
    esac
  done
}

count_run() {  # out-dir small-count big-count list
  local out=$1 a=$2 b=$3 list=$4
  local name cmd rest
  mkdir -p "$out/runs"
  head -n "$a" "$list" >"$out/list.$a"
  head -n "$b" "$list" >"$out/list.$b"
  local k=0
  : >"$out/counters"
  while IFS=$TAB read -r name rest; do
    k=$((k + 1))
    IFS=$TAB read -ra cmd <<<"$rest"
    local sa=- sb=- ia=- ib=- n
    for n in $a $b; do
      if [[ $use_strace == 1 ]]; then
        xargs -a "$out/list.$n" strace -y -s 0 -o "$out/runs/$k.strace.$n" "${cmd[@]}" \
          </dev/null >/dev/null 2>&1 || true
        take_wavs_away "$out/list.$n"
      fi
      if [[ $use_callgrind == 1 && $name != exiftool* ]]; then
        xargs -a "$out/list.$n" valgrind --tool=callgrind --callgrind-out-file="$out/runs/$k.cg.$n" \
          "${cmd[@]}" </dev/null >/dev/null 2>"$out/runs/$k.cglog.$n" || true
        take_wavs_away "$out/list.$n"
      fi
    done
    local sys=- rmed=- rmax=- mapped=- ins=- startup=-
    if [[ $use_strace == 1 && -s $out/runs/$k.strace.$b ]]; then
      local ca cb
      ca=$(grep -c '^[a-z_0-9]*(' "$out/runs/$k.strace.$a" || true)
      cb=$(grep -c '^[a-z_0-9]*(' "$out/runs/$k.strace.$b" || true)
      sys=$(awk -v x="$ca" -v y="$cb" -v k=$((b - a)) 'BEGIN { printf "%.1f", (y - x) / k }')
      # Bytes read and mapped per photograph, on descriptors naming it.
      read -r rmed rmax mapped < <(awk -v dir="$corpus/" '
        match($0, /^(read|pread64|readv|preadv|preadv2)\([0-9]+</) {
          p = substr($0, RLENGTH + 1); f = substr(p, 1, index(p, ">") - 1)
          if (index(f, dir) != 1) next
          n = $NF + 0; if (n > 0) got[f] += n; seen[f] = 1; next }
        match($0, /^mmap\([^,]*, [0-9]+, [^,]*, [^,]*, [0-9]+</) {
          split($0, a, ", "); f = a[5]; sub(/^[0-9]+</, "", f); sub(/>.*/, "", f)
          if (index(f, dir) != 1) next
          m[f] += a[2]; seen[f] = 1 }
        END { for (f in seen) printf "%.0f %.0f\n", got[f], m[f] }' "$out/runs/$k.strace.$b" |
        sort -n | awk '{ v[++k] = $1; mm += $2 }
          END { if (!k) { print "- - -"; exit }
                med = k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
                printf "%.0f %.0f %.0f\n", med, v[k], mm / k }')
    fi
    if [[ $use_callgrind == 1 && -s $out/runs/$k.cg.$b ]]; then
      ia=$(awk '/^summary:/ { print $2 }' "$out/runs/$k.cg.$a")
      ib=$(awk '/^summary:/ { print $2 }' "$out/runs/$k.cg.$b")
      if [[ -n $ia && -n $ib ]]; then
        ins=$(awk -v x="$ia" -v y="$ib" -v k=$((b - a)) 'BEGIN { printf "%.0f", (y - x) / k }')
        startup=$(awk -v x="$ia" -v p="$ins" -v a="$a" 'BEGIN { printf "%.0f", x - a * p }')
      fi
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$sys" "$rmed" "$rmax" "$mapped" "$ins" "$startup" >>"$out/counters"
  done < <(counter_tools)
  # The start-up floor: one run, whole.
  if [[ $use_callgrind == 1 ]]; then
    valgrind --tool=callgrind --callgrind-out-file="$out/runs/start.cg" "$bin/benchstart" >/dev/null 2>&1 || true
    local is
    is=$(awk '/^summary:/ { print $2 }' "$out/runs/start.cg" 2>/dev/null)
    printf '%s\t-\t-\t-\t-\t-\t%s\n' "floor: start-up (prints a line)" "${is:--}" >>"$out/counters"
  fi
}

run_counters() {  # name
  local name=$1 out=$build/bench-results/$1/counters
  rm -rf "$out" && mkdir -p "$out"
  local a=10 b=$count_photos n
  n=$(wc -l <"$build/bench-results/$name/distinct")
  ((b > n)) && b=$n
  say ""
  say "-- $name corpus, counters per photograph (photographs 1-$a and 1-$b, the difference)"
  if ((b <= a)); then say "   too few photographs"; return; fi
  local t0=$SECONDS
  count_run "$out" "$a" "$b" "$build/bench-results/$name/distinct"
  awk -F'\t' '
    BEGIN {
      printf "   %-34s %9s %10s %10s %10s %12s %12s\n", "", "system", "bytes read", "", "bytes", "instruc-", "start-up"
      printf "   %-34s %9s %10s %10s %10s %12s %12s\n", "command", "calls", "median", "largest", "mapped", "tions", "instructions" }
    { printf "   %-34s %9s %10s %10s %10s %12s %12s\n", $1, $2, $3, $4, $5, $6, $7 }' "$out/counters"
  say "   ($((SECONDS - t0)) s)"
}

# --- goals --------------------------------------------------------------------
verdicts=()
goal() {  # holds(0/1) text
  if [[ $1 == 1 ]]; then verdicts+=("holds   $2"); else verdicts+=("MISSED  $2"); fi
}
le() { awk -v x="$1" -v y="$2" 'BEGIN { exit !(x != "nan" && x != "-" && x + 0 <= y + 0) }' && echo 1 || echo 0; }

# Compares two commands of a results file, per photograph: the first picked
# by its job, the second by its job and the start of its label.  Prints
# "ratio wall-ratio cpu-ratio basis".  The ratio is that of the median wall
# times, unless either command's wall time is well above its CPU time (and
# the runs were warm): every command is single-threaded, so it then waited
# for a processor (the machine was busy), and the ratio of CPU times is the
# fair one.  Cold runs are judged by wall time: their waits are the disk's.
compare() {  # results job-a job-b [label-prefix-b] [cold]
  awk -F'\t' -v a="$2" -v b="$3" -v p="${4:-}" -v cold="${5:-}" '
    $2 == a && !wa { wa = $4 / $13; ca = $7 / $13 }
    $2 == b && index($1, p) == 1 && !wb { wb = $4 / $13; cb = $7 / $13 }
    END {
      if (!wa || !wb || !ca || !cb) { print "nan nan nan wall"; exit }
      busy = !cold && (wa > 1.25 * ca || wb > 1.25 * cb)
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
counter() {  # counters-file name column
  awk -F'\t' -v n="$2" -v c="$3" '$1 == n { print $c; found = 1 } END { if (!found) print "-" }' "$1" 2>/dev/null || echo -
}

goals_for() {  # name
  local name=$1 top=$build/bench-results/$1 c m r largest
  largest=$(cut -f2 "$top/corpus")
  for m in $modes; do
    r=$top/$m/results
    [[ -f $r ]] || continue
    local cold=
    [[ $m == cold ]] && cold=1
    if [[ " ${present_peers[*]} " == *" jhead "* ]]; then
      # Faster in CPU and in wall time; when the machine was busy, wall
      # time says more of the other processes than of these two.
      read -ra c < <(compare "$r" date peer-date jhead "$cold")
      if [[ ${c[3]} == cpu ]]; then
        goal "$(le "${c[2]}" 0.999)" \
          "chronel faster than jhead ($name, $m): CPU time ${c[2]} x its time (the machine was busy: wall time ${c[1]} x)"
      else
        goal "$( [[ $(le "${c[1]}" 0.999) == 1 && $(le "${c[2]}" 0.999) == 1 ]] && echo 1 || echo 0)" \
          "chronel faster than jhead ($name, $m): wall time ${c[1]} x, CPU time ${c[2]} x its time"
      fi
      if [[ $m == cold ]]; then
        goal "$(le "${c[1]}" 0.8)" "chronel at most 0.8 x jhead's time ($name, cold): ${c[1]} x (CPU time ${c[2]} x)"
      fi
    fi
    case $m in
      warm)
        read -ra c < <(compare "$r" date floor4k)
        goal "$(le "${c[0]}" 1.3)" "chronel at most 1.3 x the 4 KB floor ($name, warm): $(figure "${c[@]}")"
        for x in segments:segdump:floorall comments:glossel:floorall audio:sonlift:floorwrite; do
          IFS=: read -r j l f <<<"$x"
          read -ra c < <(compare "$r" "$j" "$f")
          goal "$(le "${c[0]}" 1.3)" "$l at most 1.3 x the $([[ $f == floorall ]] && echo whole-file || echo write) floor ($name, warm): $(figure "${c[@]}")"
        done ;;
      each)
        for x in date:chronel:start segments:segdump:start comments:glossel:start audio:sonlift:start \
                 segments:segdump:floorall comments:glossel:floorall audio:sonlift:floorwrite; do
          IFS=: read -r j l f <<<"$x"
          read -ra c < <(compare "$r" "$j" "$f")
          local what="start-up floor"
          [[ $f == floorall ]] && what="per-process whole-file floor"
          [[ $f == floorwrite ]] && what="per-process write floor"
          goal "$(le "${c[0]}" 1.1)" "$l at most 1.1 x the $what ($name, one process each): $(figure "${c[@]}")"
        done ;;
    esac
  done
  # Counters.
  local cf=$top/counters/counters
  if [[ -f $cf ]]; then
    local ins rd
    ins=$(counter "$cf" chronel 6)
    [[ $ins != - ]] && goal "$(le "$ins" 25000)" "chronel at most 25,000 instructions per photograph ($name): $ins"
    rd=$(counter "$cf" chronel 3)
    [[ $name == camera && $rd != - ]] && goal "$(le "$rd" 8192)" "chronel reads at most 8 KB per photograph (median, camera): $rd bytes"
  fi
  # Peak memory, the largest of any mode.
  local job label rss most
  for job in date segments comments audio; do
    rss=$(cat "$top"/*/results 2>/dev/null | awk -F'\t' -v j="$job" '$2 == j && $8 > m { m = $8 } END { print m + 0 }')
    label=$(cat "$top"/*/results 2>/dev/null | awk -F'\t' -v j="$job" '$2 == j { print $1; exit }')
    [[ -n $label ]] || continue
    if [[ $job == date ]]; then
      most=$(counter "$cf" chronel 4)
      [[ $most == - ]] && continue
      local limit=$((4000000 + most))
      goal "$( ((rss * 1024 <= limit)) && echo 1 || echo 0)" \
        "chronel peak memory at most 4 MB + what it reads ($name): $(mb $((rss * 1024))) of $(mb $limit)"
    else
      local limit=$((largest + 4000000))
      goal "$( ((rss * 1024 <= limit)) && echo 1 || echo 0)" \
        "$label peak memory at most the largest photograph + 4 MB ($name): $(mb $((rss * 1024))) of $(mb $limit)"
    fi
  done
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

clip_bytes=$((44 + ${audio%.*} * 8000))
count_photos=$([[ $quick == 1 ]] && echo 30 || echo 60)
corpora=()
case $only in
  "") corpora=(standard large camera) ;;
  standard | large | camera) corpora=("$only") ;;
  corpus) ;;
  *) die "BENCH_ONLY: standard, large, camera or corpus" ;;
esac

say "orvane benchmark$([[ $quick == 1 ]] && echo ", quick subset (BENCH_QUICK=1)")"
say "machine: $(lscpu | awk -F: '/^Model name/ { gsub(/^ +/, "", $2); print $2 }'), $(nproc) cores, $(awk '/^MemTotal:/ { printf "%.0f GiB RAM", $2 / 1048576 }' /proc/meminfo), $(uname -sr)"
say "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
say "peers: ${present_peers[*]:-none}"
say "modes: $modes; every command handles $count photographs (times are given per 1000)"
[[ $audio != 0 ]] && say "every photograph carries a ${audio}-second sound clip in APP2 segments, which sonlift extracts"

begin=$SECONDS
[[ $only == "" || $only == corpus || $only == standard ]] && make_corpus standard "$std_bytes" "$count"
[[ $only == "" || $only == corpus || $only == large ]] && make_corpus large "$large_bytes" "$large_count"
[[ $only == "" || $only == corpus || $only == camera ]] && make_camera_corpus "$camera_count"
[[ $only == corpus ]] && exit 0

settle_after_deletions
ok=1
declare -A distinct_count=([standard]=$count [large]=$large_count [camera]=$camera_count)
for name in "${corpora[@]}"; do
  prepare_corpus "$name" "${distinct_count[$name]}"
  for m in $modes; do run_mode "$name" "$m"; done
  run_counters "$name"
done

# chronel over as many photographs of each corpus, side by side.
if [[ -z $only && " $modes " == *" warm "* ]]; then
  out=$build/bench-results/sizes
  rm -rf "$out" && mkdir -p "$out"
  {
    for name in standard large camera; do
      plan_line "floor 4 KB, $name" "floor-$name" - "$bin/benchfloor" head4k "@FILES:$build/bench-results/$name/files"
      plan_line "chronel, $name" "chronel-$name" - "$build/chronel" "@FILES:$build/bench-results/$name/files"
    done
  } >"$out/plan"
  say ""
  say "-- chronel over $count photographs of each corpus, side by side (warm)"
  "$bin/benchrun" --plan "$out/plan" --files "$build/bench-results/standard/files" --rounds "$rounds" \
    --warmup 1 --outdir "$out" --results "$out/results" --exec "$bin/benchexec" --spent "$spent" 2>/dev/null
  awk -F'\t' '
    { n = $13; printf "   %-24s %8.1f us per photograph, CPU %6.1f us (medians of %d runs)\n", $1,
        1e6 * $4 / n, 1e6 * $7 / n, $3 }' "$out/results"
fi

say ""
say "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"

for name in "${corpora[@]}"; do goals_for "$name"; done
if [[ -z $only && -f $build/bench-results/sizes/results ]]; then
  # Same time per photograph whatever the photograph's size: within 20%
  # (the noise of a shared machine), and instructions within 2%.
  for name in large camera; do
    read -ra c < <(compare "$build/bench-results/sizes/results" "chronel-$name" chronel-standard)
    goal "$(le "${c[0]}" 1.2)" "chronel's time per photograph, $name / standard corpus: $(figure "${c[@]}") (at most 1.2)"
  done
  a=$(counter "$build/bench-results/standard/counters/counters" chronel 6)
  b=$(counter "$build/bench-results/large/counters/counters" chronel 6)
  if [[ $a != - && $b != - ]]; then
    x=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')
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
say "benchmark time: $((SECONDS - begin)) s"
exit 0
