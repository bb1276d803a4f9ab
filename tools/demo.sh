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
run "$bin/diskwarden" -l sample.img
run "$bin/diskwarden" -x -l sample.img
run "$bin/diskwarden" -i 2 sample.img
