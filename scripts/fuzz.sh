#!/usr/bin/env bash
# Runs each libFuzzer target (or the ones named) for SECONDS seconds each
# (default 20) under ASan and UBSan, on top of the committed seed and
# regression inputs. New interesting inputs collect in build/fuzz/corpus/NAME
# and carry over to the next run; a crash leaves its input in
# build/fuzz/artifacts/NAME/ and fails the script.
#
#   scripts/fuzz.sh                    # 20 s each, as scripts/test.sh does
#   scripts/fuzz.sh 600                # a longer campaign
#   scripts/fuzz.sh 60 filter_run_fuzzer
#
# Replay one input: build/native-asan/fuzz/NAME path/to/input
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
seconds="${1:-20}"
[ $# -gt 0 ] && shift
scripts/build.sh native-asan >/dev/null

fuzzers=("$@")
if [ ${#fuzzers[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do fuzzers+=("$(basename "$dir")"); done
fi

# Inputs beyond these lengths add nothing: the settings file is read as 76
# bytes, and a run's image repeats whatever bytes it gets.
max_len_of() {
    case "$1" in
        settings_file_fuzzer) echo 512 ;;
        image_file_fuzzer) echo 8192 ;;
        *) echo 4096 ;;
    esac
}

failed=()
for name in "${fuzzers[@]}"; do
    binary="build/native-asan/fuzz/$name"
    scratch="build/fuzz/corpus/$name"
    artifacts="build/fuzz/artifacts/$name/"
    mkdir -p "$scratch" "$artifacts"
    inputs=("$scratch" "fuzz/corpus/$name")
    [ -d "fuzz/regressions/$name" ] && inputs+=("fuzz/regressions/$name")
    log="build/fuzz/$name.log"
    echo "== $name: ${seconds} s"
    if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len_of "$name")" \
        -artifact_prefix="$artifacts" -print_final_stats=1 "${inputs[@]}" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
        echo "   ${runs:-?} executions in ${time:-?} s, corpus $(ls "$scratch" | wc -l) new inputs; no crash"
    else
        tail -n 40 "$log"
        echo "   $name FAILED; the input is in $artifacts (log: $log)"
        echo "   replay: $binary $artifacts<file>; commit it to fuzz/regressions/$name/ once fixed"
        failed+=("$name")
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzzers that failed: ${failed[*]}"; exit 1; }
