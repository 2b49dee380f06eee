#!/usr/bin/env bash
# Builds both DLLs and says where they are and what they export.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/install-deps.sh
scripts/build.sh win32 win64 >/dev/null
for preset in win32 win64; do
    dll="$ROOT/build/$preset/bin/roundcorner.dll"
    echo "$preset: $dll"
    /usr/bin/python3 - "$dll" <<'PY'
import sys
sys.path.insert(0, ".")
from tests.win32 import pe
for ordinal, (name, _) in sorted(pe.load(sys.argv[1]).exports().items()):
    print(f"  @{ordinal} {name}")
PY
done
