#!/usr/bin/env bash
# Whole-process figures for shots as users render them, all from one run:
#
#  1. the demo drawing, every frame, "Animate Strokes", wiggle on, at
#     1920x1080 and 3840x2160, 8 and 16 bit, with --jobs 1 and --jobs 2:
#     frames per second of the whole process and the largest resident set of
#     any one process (the tool or a worker);
#  2. how time grows with strokes (50, 200, 800, 3200 generated strokes of up
#     to 120 samples, mixed brushes, "All Strokes", 8 frames) at both sizes;
#  3. on 8 frames of the 200-stroke HD drawing (8-bit, wiggle on, "All
#     Strokes"), --jobs 2 against two --jobs 1 runs of the two halves started
#     side by side (the machine's own limit for two processes), alternately,
#     median of RUNS pairs;
#  4. the PNG write of the 200-stroke HD frame at 8 and 16 bit (bench_png).
#
#   bench/shot-benchmarks.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR is an optimized build holding cli/pennaro and, for the PNG write,
# bench/bench_png (default build/bench, configured and built here).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench}
runs=${2:-5}
if [ "$build" = build/bench ]; then
  cmake --preset bench >/dev/null
  cmake --build build/bench -j2 --target pennaro_cli pennaro bench_png >/dev/null
fi
tool=$(cd "$build" && pwd)/cli/pennaro
work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-shot.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Drawings of N strokes in the demo's format, made the same way every time.
python3 - "$work" <<'PY'
import json, math, random, sys
work = sys.argv[1]
demo = json.load(open("examples/demo.json"))
template = demo["strokes"][0]
for count in (50, 200, 800, 3200):
    rng = random.Random(2026)
    strokes = []
    for k in range(count):
        s = json.loads(json.dumps(template))
        s["strokeId"] = k
        s["startTime"] = round(rng.random() * 60) / 30
        s["duration"] = 0.9
        b = s["brush"]
        b.update(red=rng.random(), green=rng.random(), blue=rng.random(), opacity=0.3 + 0.7 * rng.random(),
                 size=4 + 56 * rng.random(), brushMode=(1, 2, 3, 9, 10, 11)[k % 6], softness=rng.random())
        samples = rng.randint(20, 120)
        x0, y0 = rng.random(), rng.random()
        dx, dy = 0.6 * (rng.random() - 0.5), 0.6 * (rng.random() - 0.5)
        s["points"] = [[0.9 * t, x0 + dx * t, y0 + dy * t + 0.03 * math.sin(7 * t), 0.4 + 0.6 * t]
                       for t in (i / (samples - 1) for i in range(samples))]
        strokes.append(s)
    demo["strokes"] = strokes
    json.dump(demo, open(f"{work}/strokes-{count}.json", "w"))
PY

# Runs the tool as given; prints wall seconds and the largest resident set of
# the tool and its workers (MiB).
python3 - "$tool" "$work" "$runs" <<'PY'
import os, statistics, subprocess, sys, time
tool, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])

def timed(*args):
    out = f"{work}/out"
    subprocess.run(["rm", "-rf", out])
    pid = os.fork()
    if pid == 0:
        os.execv(tool, [tool, "render", *args, "-q", "-o", f"{out}/f_####.png"])
    start = time.monotonic()
    _, status, usage = os.wait4(pid, 0)
    seconds = time.monotonic() - start
    if status != 0:
        sys.exit(f"failed: {' '.join(args)}")
    frames = len(os.listdir(out))
    # wait4's peak covers the tool and every worker it reaped: the largest
    # resident set of any one of them.
    rss = usage.ru_maxrss / 1024
    return seconds, frames, rss

print("== 1. the demo, every frame, Animate Strokes, wiggle on")
print(f"{'size':>10} {'depth':>5} {'jobs':>4} {'frames':>6} {'seconds':>8} {'frames/s':>8} {'max RSS MiB':>11}")
for size in ("1920x1080", "3840x2160"):
    for depth in ("8", "16"):
        for jobs in ("1", "2"):
            s, n, rss = timed("examples/demo.json", "--size", size, "--depth", depth, "--wiggle", "on",
                              "--playback-mode", "Animate Strokes", "--jobs", jobs)
            print(f"{size:>10} {depth:>5} {jobs:>4} {n:>6} {s:8.2f} {n / s:8.2f} {rss:11.0f}", flush=True)

print("== 2. strokes and size: 8 frames (60-67), All Strokes, 8 bit, wiggle on, --jobs 1")
print(f"{'strokes':>7} {'size':>10} {'seconds':>8} {'ms/frame':>8} {'vs 200 HD':>9}")
base = None
for size in ("1920x1080", "3840x2160"):
    for count in (50, 200, 800, 3200):
        s, n, rss = timed(f"{work}/strokes-{count}.json", "--size", size, "--wiggle", "on",
                          "--playback-mode", "All Strokes", "--frames", "60-67")
        if count == 200 and size == "1920x1080":
            base = s
        print(f"{count:>7} {size:>10} {s:8.2f} {1000 * s / n:8.0f} {s / base if base else float('nan'):9.2f}", flush=True)

print(f"== 3. --jobs 2 against two --jobs 1 halves side by side, 200 strokes HD, {runs} pairs")
common = [f"{work}/strokes-200.json", "--wiggle", "on", "--playback-mode", "All Strokes", "-q"]
def pair():
    start = time.monotonic()
    procs = [subprocess.Popen([tool, "render", *common, "--frames", frames, "-o", f"{work}/pair{i}/f_####.png"])
             for i, frames in enumerate(("60-63", "64-67"))]
    for p in procs:
        if p.wait() != 0:
            sys.exit("a half failed")
    return time.monotonic() - start
def jobs2():
    start = time.monotonic()
    subprocess.run([tool, "render", *common, "--frames", "60-67", "--jobs", "2", "-o", f"{work}/j2/f_####.png"],
                   check=True)
    return time.monotonic() - start
ratios, j2s, pairs = [], [], []
for _ in range(runs):
    p, j = pair(), jobs2()
    pairs.append(p), j2s.append(j), ratios.append(p / j)
print("two halves side by side: " + " ".join(f"{v:.2f}" for v in pairs) + " s")
print("--jobs 2:                " + " ".join(f"{v:.2f}" for v in j2s) + " s")
print(f"speed of --jobs 2 relative to the pair, median of {runs}: {statistics.median(ratios):.3f}")
PY

echo "== 4. PNG write of the 200-stroke HD frame (frame 60, All Strokes)"
if [ -x "$build/bench/bench_png" ]; then
  "$tool" render "$work/strokes-200.json" --frames 60 --playback-mode "All Strokes" -q -o "$work/png8.png"
  "$tool" render "$work/strokes-200.json" --frames 60 --playback-mode "All Strokes" --depth 16 --wiggle on -q \
    -o "$work/png16.png"
  "$build/bench/bench_png" "$work/png8.png" "$work/png16.png" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "median|Benchmark"
else
  echo "(no $build/bench/bench_png: skipped)"
fi
