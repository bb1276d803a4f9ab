#!/usr/bin/env bash
# Runs each libFuzzer program of a DW_FUZZ build for a while: tools/fuzz.sh BUILD SECONDS [TARGET...]
# Corpus: the kept inputs (tests/fuzz-corpus/<target>, read only), fresh seeds from the
# test-support builders, and a working corpus in BUILD/fuzz-corpus/<target>. Crashes land in
# tests/fuzz-out/<target>/; copy a fixed one into tests/fuzz-corpus/<target>/ so that the
# test suite replays it from then on.
set -uo pipefail
seconds=$2
cd "$(dirname "$0")/.."
# Absolute paths: a target works in a directory of its own.
build=$(cd "$1" && pwd)
root=$(pwd)
shift 2
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do t=$(basename "$f" .cpp); targets+=("${t%_fuzz}"); done
fi
"$build/bin/fuzz_make_seeds" "$build/fuzz-seeds" || exit 1
failed=0
for t in "${targets[@]}"; do
  work="$build/fuzz-corpus/$t"
  out="$root/tests/fuzz-out/$t"
  mkdir -p "$work" "$out" "$root/tests/fuzz-corpus/$t"
  echo "== fuzz_$t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    nice "$build/bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 \
      -close_fd_mask=3 -detect_leaks=0 -rss_limit_mb=3072 -timeout=30 \
      -artifact_prefix="$out/" "$work" "$root/tests/fuzz-corpus/$t" "$build/fuzz-seeds/$t" \
      >"$build/fuzz-$t.log" 2>&1
  status=$?
  grep -E '^stat::|^#[0-9]+.*DONE|cov:' "$build/fuzz-$t.log" | tail -n 8
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$t found a problem (status $status): see $build/fuzz-$t.log and $out/"
    failed=1
  fi
done
exit "$failed"
