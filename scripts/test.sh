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
echo "== native unit tests under ASan and UBSan"
ctest --preset native-asan
echo "== fuzzers, ${FUZZ_SECONDS:=20} s each"
scripts/fuzz.sh "$FUZZ_SECONDS"
echo "== x86-64 DLL under wine64"
scripts/wine-tests.sh
echo "== 32-bit DLL"
/usr/bin/python3 -m unittest discover -s tests/win32 -t . -p '*_test.py'
