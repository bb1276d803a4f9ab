#!/usr/bin/env bash
# Runs the benchmarks of a DW_BENCH build: tools/bench.sh BUILD
# BENCH_MIB (default 1024) sets the recording size, BENCH_RUNS (default 5) the runs of
# each; the work files go to $TMPDIR (or /tmp), which needs room for about three times
# the recording size.
set -euo pipefail
bin="$1/bin"
mib=${BENCH_MIB:-1024}
runs=${BENCH_RUNS:-5}
for b in get_bench put_bench copy_bench; do
  echo "== $b ($mib MiB, $runs runs)"
  "$bin/$b" "$mib" "$runs"
done
echo "== reelhead_bench"
"$bin/reelhead_bench"
echo "== check_bench ($runs runs)"
"$bin/check_bench" "$runs"
echo "== carve_bench ($mib MiB, 3 runs, cold cache)"
"$bin/carve_bench" "$mib" 3
if [ -x "$bin/mount_bench" ]; then
  echo "== mount_bench ($mib MiB, $runs runs, cold cache)"
  "$bin/mount_bench" "$mib" "$runs"
fi
