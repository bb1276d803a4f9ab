#!/usr/bin/env bash
# The demo of `make demo`: the worked example of the README, run on a fresh sample disk
# in build/demo (every command's output is real).
set -euo pipefail
build=${1:-build}
bin="$PWD/$build/bin"
work="$PWD/$build/demo"
rm -rf "$work"
mkdir -p "$work"

step() { printf '\n\033[1m$ %s\033[0m\n' "$*"; }
run() { step "$*"; "$@" </dev/null; }

cd "$work"
# A fresh sample disk, and an untouched copy of it that is damaged further down.
run "$bin/make_sample_disk" sample.img
run cp sample.img damaged.img
run "$bin/diskwarden" -l sample.img
run "$bin/diskwarden" -i 2 sample.img

# A recording to the computer.
run "$bin/diskwarden" -g 1 sample.img
run ls

# A stream recorded elsewhere (here a copy of the one just fetched, named after its
# start) gets a header and goes onto the disk. Names are in UTC: TZ=UTC reads them so.
run cp "20130526 2000 Evening News.ts" "20240101 2000 Made Elsewhere.ts"
run env TZ=UTC "$bin/reelhead" "20240101 2000 Made Elsewhere.ts"
run "$bin/diskwarden" -y -p '20240101*.ts' sample.img
run "$bin/diskwarden" -l sample.img

# A rescue: with the record list gone (the sample has no backup of it, so swapping the
# two removes it), recovery mode still finds the recordings.
run "$bin/diskwarden" -r -s -y damaged.img
run "$bin/diskwarden" -l damaged.img
run "$bin/diskwarden" -r -l damaged.img
run "$bin/diskwarden" -r -g 1-2 damaged.img

# A recording deleted by mistake: found in its freed clusters, copied, given a name with
# its start and title, a header, and put back.
run "$bin/diskwarden" -y -d 3 sample.img
run "$bin/diskwarden" --carve sample.img
run "$bin/diskwarden" --carve -g 1 sample.img
run mv found_0001.ts "20130528 2030 Wild Isles.ts"
run env TZ=UTC "$bin/reelhead" "20130528 2030 Wild Isles.ts"
run "$bin/diskwarden" -y -p "20130528 2030 Wild Isles.ts" sample.img
run "$bin/diskwarden" -l sample.img
