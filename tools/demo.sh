#!/usr/bin/env bash
# The demo of `make demo`: builds the sample recorder disk and works on it.
set -euo pipefail
build=${1:-build}
bin="$PWD/$build/bin"
work="$PWD/$build/demo"
rm -rf "$work"
mkdir -p "$work/host"
"$bin/make_sample_disk" "$work/sample.img"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }
run() { step "$*"; "$@" </dev/null; }

cd "$work"
cp sample.img damaged.img # kept aside for the rescue at the end
run "$bin/diskwarden" -l sample.img
run "$bin/diskwarden" -x -l sample.img
run "$bin/diskwarden" -i 2 sample.img

# A recording to the computer, and back onto the disk as a new recording.
mkdir -p roundtrip
(cd roundtrip && run "$bin/diskwarden" -g 1 ../sample.img && ls -l)
run "$bin/diskwarden" -y -p 'roundtrip/*.ts' sample.img
run "$bin/diskwarden" -x -l sample.img

# A stream recorded elsewhere gets a header, then goes onto the disk.
cp roundtrip/*.ts "host/20240101 2000 Made Elsewhere.ts"
run "$bin/reelhead" "host/20240101 2000 Made Elsewhere.ts"
run "$bin/diskwarden" -y -p 'host/*.ts' sample.img
run "$bin/diskwarden" -l sample.img

# A rescue: with the record list gone (this disk has no backup of it, so swapping the
# two names removes it), recovery mode still finds the recordings.
run "$bin/diskwarden" -r -s -y damaged.img
run "$bin/diskwarden" -l damaged.img
run "$bin/diskwarden" -r -l damaged.img
mkdir -p rescued
(cd rescued && run "$bin/diskwarden" -r -g 1-2 ../damaged.img && ls -l)
