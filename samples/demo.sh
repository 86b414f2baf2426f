#!/bin/sh
# Runs every tool on the sample photographs (in a scratch copy, since
# sonlift writes .wav files beside the photographs).
set -eu
build=$(cd "${1:-build-release}" && pwd)
samples=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$samples"/*.jpg "$samples"/notes.txt "$work"
cd "$work"

show() {
  printf '\n$ %s\n' "$*"
  "$@" 2>&1
}

export TZ=UTC
show "$build/chronel" plain.jpg bigendian.jpg comments.jpg audio.jpg nodate.jpg notes.txt truncated.jpg
show "$build/chronel" -p plain.jpg bigendian.jpg nodate.jpg
show "$build/segdump" comments.jpg truncated.jpg missing.jpg
show "$build/glossel" comments.jpg plain.jpg notes.txt
show "$build/sonlift" audio.jpg plain.jpg
printf '\n$ head -c 44 audio.jpg.wav | od -A d -c | head -3\n'
head -c 44 audio.jpg.wav | od -A d -c | head -3
