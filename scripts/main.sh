#!/usr/bin/env bash
# The main job: builds roundcorners, the command-line host, and rounds the
# corners of the sample picture kept in the repository (docs/sample.png). The
# result goes into the build folder; its path is printed last.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/install-deps.sh
[ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
cmake --build --preset native --target roundcorners -j2 >/dev/null
result="$ROOT/build/sample-rounded.png"
# A settings folder of its own, so that what the user stored does not change
# the picture: the defaults (white background, smoothing on) with radius 40.
build/native/host/roundcorners docs/sample.png -o "$result" --radius 40 --settings-dir "$ROOT/build/main-settings"
echo "$result"
