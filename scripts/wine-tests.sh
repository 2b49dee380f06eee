#!/usr/bin/env bash
# Runs the Windows test program, which loads the x86-64 DLL, under wine64.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/wine-env.sh"
wine_prepare_prefix
wine_start_server
cd "$ROOT/build/win64/bin"
"$WINE" windows_tests.exe "$@"
