#!/usr/bin/env bash
# The whole test suite: native unit tests, the same under ASan and UBSan, a
# short run of every fuzzer, the x86-64 DLL under wine64, and the shipped
# 32-bit DLL by inspection and under CPU emulation. Installs what is missing
# first.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/install-deps.sh
scripts/build.sh native native-asan win32 win64

echo "== native unit tests"
ctest --preset native
# Figures come from scripts/bench.sh; this pass only keeps the benchmark
# building and running (it fails when a FilterProc run fails).
echo "== benchmark: one short pass at the smallest size"
if ! log="$(build/native/bench/filter_benchmark --benchmark_filter=1920 --benchmark_min_time=0.01 2>&1)"; then
    echo "$log"
    exit 1
fi
echo "== native unit tests under ASan and UBSan"
ctest --preset native-asan
echo "== fuzzers, ${FUZZ_SECONDS:=20} s each"
scripts/fuzz.sh "$FUZZ_SECONDS"
echo "== x86-64 DLL under wine64"
scripts/wine-tests.sh
echo "== 32-bit DLL"
/usr/bin/python3 -m unittest discover -s tests/win32 -t . -p '*_test.py'
