"""Prints the filter benchmark's JSON results (scripts/bench.sh) as a table:
each whole run beside its copy floor and its bare run, fastest repetition.
Several result files are pooled, as if their repetitions were one run's.

    /usr/bin/python3 scripts/bench_table.py build/native/bench/latest.json [more.json ...]
"""
import json
import statistics
import sys

# Times in microseconds by benchmark and case ("w:1920/h:1080/r:20/smooth:0").
times = {}
entries = [entry for path in sys.argv[1:] for entry in json.load(open(path))["benchmarks"]]
for entry in entries:
    if entry.get("run_type") != "iteration" or entry.get("error_occurred"):
        continue
    bench, _, case = entry["run_name"].partition("/")
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[entry["time_unit"]]
    times.setdefault(bench, {}).setdefault(case, []).append(entry["cpu_time"] * scale)


def fields(case):
    return dict(part.split(":") for part in case.split("/"))


def figure(us):
    return f"{us:.1f}" if us < 100 else f"{us:.0f}"


print("| size | R | smoothing | run µs | floor µs | run / floor | median run / floor | bare run µs | run / bare |")
print("| --- | --- | --- | --- | --- | --- | --- | --- | --- |")
runs = times.get("BM_FilterRun", {})
for case in sorted(runs, key=lambda case: (fields(case)["smooth"], int(fields(case)["w"]))):
    f = fields(case)
    run = runs[case]
    floor = times.get("BM_CopyFloor", {}).get(case)
    bare = times.get("BM_BareRun", {}).get(case)
    row = [f"{f['w']}×{f['h']}", f["r"], "on" if f["smooth"] != "0" else "off", figure(min(run))]
    if floor:
        row += [figure(min(floor)), f"{min(run) / min(floor):.2f}",
                f"{statistics.median(run) / statistics.median(floor):.2f}"]
    else:
        row += ["–", "–", "–"]
    if bare:
        row += [figure(min(bare)), f"{min(run) / min(bare):.2f}"]
    else:
        row += ["–", "–"]
    print("| " + " | ".join(row) + " |")
settings = times.get("BM_LoadSettings", {}).get("")
if settings:
    print(f"settings load alone (open, read, close): {min(settings):.1f} µs")
