#!/usr/bin/env bash
# Configures and builds the given presets (default: all three).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(native win32 win64)
for preset in "${presets[@]}"; do
    [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)"
done
