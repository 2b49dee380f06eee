#!/usr/bin/env bash
# Runs the filter benchmark (native build) and prints each whole run beside
# its copy floor: the same host copying the same rows with no filter work.
# Each figure is the fastest of several repetitions, interleaved at random so
# that a run and its floor meet the same background load; the medians are
# printed too, to show how noisy the machine was.
#
#   scripts/bench.sh                       # every size, 5 repetitions
#   REPETITIONS=9 scripts/bench.sh --benchmark_filter=6000
#
# Extra arguments go to the benchmark program. Figures are CPU time (the
# process's, kernel time for page faults included), so that time spent
# waiting for a core that others hold does not count. The raw results stay in
# build/native/bench/latest.json.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/build.sh native >/dev/null
out=build/native/bench/latest.json
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! build/native/bench/filter_benchmark \
    --benchmark_repetitions="${REPETITIONS:-5}" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_out="$out" --benchmark_out_format=json "$@" >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
/usr/bin/python3 scripts/bench_table.py "$out"
