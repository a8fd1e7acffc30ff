#!/usr/bin/env bash
# Measures the line and branch coverage of the product (src/, minihost/,
# cli/) by the test suite. Run by hand; see --help.
set -euo pipefail

usage() {
    cat <<'EOF'
Usage: scripts/coverage.sh [--no-install] [--help]

Builds the `coverage` preset (GCC, --coverage, -O0) in build/coverage, runs
its tests (everything but the `release-only` label), and reports the line
and branch coverage of the product: the files under src/, minihost/ and
cli/. Tests, the stand-in host's testing layer (minihost/testing.*), fuzz
targets, benchmarks, system headers and generated files are left out.

Counts from every process are kept: the test binaries, the effect loaded
as libpennaro.so, the pennaro tool the tests run, and its forked render
workers. Counts left by an earlier run are cleared first, and object files
of sources that are no longer built are dropped, so each run measures the
current tree and nothing else.

The gcovr options are fixed in this script: figures from different
commits are comparable only when they are taken the same way, so change
them only together with a fresh baseline.

Prints a short summary, and writes under build/coverage/report/:
  summary.txt     overall and per-folder figures
  files.txt       lines and branches per file
  lines.txt       gcovr's text report (uncovered line numbers per file)
  summary.json    gcovr's JSON summary (per-file totals)
  coverage.json   gcovr's full JSON data (can be re-read with gcovr -a)
  html/index.html annotated sources

Exits non-zero when a test fails (the report is written all the same).

  --no-install  do not run scripts/install-deps.sh (it needs root); gcovr
                and the build dependencies must then be present already
  -h, --help    show this text

The build and the tests use two jobs; on a shared machine run it under nice.
EOF
}

install=1
for arg in "$@"; do
    case "$arg" in
    -h | --help)
        usage
        exit 0
        ;;
    --no-install) install=0 ;;
    *)
        echo "coverage.sh: unknown argument '$arg' (see --help)" >&2
        exit 2
        ;;
    esac
done

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="$root/build/coverage"
report="$build/report"
start=$SECONDS

if ((install)); then
    scripts/install-deps.sh --tests gcovr
fi

echo "== configure and build (preset coverage)"
cmake --preset coverage
cmake --build --preset coverage

# An object whose source was removed or renamed keeps its .gcno in the build
# folder, and gcovr would report that source as never run. Keep only the
# notes of what the compile database still builds.
python3 - "$build" <<'EOF'
import json, os, shlex, sys
build = sys.argv[1]
keep = set()
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    args = shlex.split(entry["command"])
    obj = os.path.normpath(os.path.join(entry["directory"], args[args.index("-o") + 1]))
    keep.add(os.path.splitext(obj)[0])
for folder, dirs, files in os.walk(build):
    for name in files:
        if name.endswith((".gcno", ".gcda")):
            path = os.path.join(folder, name)
            if os.path.splitext(path)[0] not in keep:
                print("dropping stale", os.path.relpath(path, build))
                os.remove(path)
EOF

# Counts add up across runs; start from none. The build itself runs the test
# binaries once (to list their tests), which leaves counts too.
find "$build" -name '*.gcda' -delete
rm -rf "$report"
mkdir -p "$report/html"

echo "== tests"
tests_ok=1
ctest --preset coverage || tests_ok=0

# gcov must be the one of the compiler that built the objects.
cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
gcov="gcov-$("$cxx" -dumpversion)"
command -v "$gcov" >/dev/null || gcov=gcov
echo "gcov: $(command -v "$gcov")"

echo "== coverage of src/, minihost/, cli/"
# Branches: those on lines without code (compiler-made) and those of the
# exception-handling paths the compiler adds around calls are left out;
# they are not decisions in the source, and their number changes with how
# the compiler lays out calls rather than with what the tests reach.
gcovr \
    --root "$root" \
    --gcov-executable "$gcov" \
    -j 2 \
    --filter 'src/' --filter 'minihost/' --filter 'cli/' \
    --exclude 'minihost/testing\.' \
    --exclude-unreachable-branches \
    --exclude-throw-branches \
    --print-summary \
    --txt "$report/lines.txt" \
    --json "$report/coverage.json" \
    --json-summary "$report/summary.json" --json-summary-pretty \
    --html-details "$report/html/index.html" \
    --html-title "Pennaro coverage" \
    "$build" | tee "$report/gcovr-summary.txt"
echo

python3 - "$report" <<'EOF'
import json, os, sys
report = sys.argv[1]
data = json.load(open(os.path.join(report, "summary.json")))

def pct(covered, total):
    return "%6.2f%%" % (100.0 * covered / total) if total else "    n/a"

def row(name, lc, lt, bc, bt):
    return "%-44s %6d/%-6d %s   %6d/%-6d %s" % (name, lc, lt, pct(lc, lt), bc, bt, pct(bc, bt))

head = "%-44s %-13s %-7s   %-13s %-7s" % ("", "lines", "", "branches", "")
folders = {}
files = []
for f in sorted(data["files"], key=lambda f: f["filename"]):
    name = f["filename"]
    lc, lt, bc, bt = f["line_covered"], f["line_total"], f["branch_covered"], f["branch_total"]
    files.append(row(name, lc, lt, bc, bt))
    top = name.split("/", 1)[0] + "/"
    t = folders.setdefault(top, [0, 0, 0, 0, 0])
    for i, v in enumerate((lc, lt, bc, bt, 1)):
        t[i] += v

summary = [head]
summary.append(row("total (%d files)" % len(data["files"]), data["line_covered"], data["line_total"],
                   data["branch_covered"], data["branch_total"]))
for top in ("src/", "minihost/", "cli/"):
    lc, lt, bc, bt, n = folders.get(top, [0, 0, 0, 0, 0])
    summary.append(row("%s (%d files)" % (top, n), lc, lt, bc, bt))

with open(os.path.join(report, "summary.txt"), "w") as out:
    out.write("\n".join(summary) + "\n")
with open(os.path.join(report, "files.txt"), "w") as out:
    out.write("\n".join([head] + files) + "\n")
print("\n".join(summary))
EOF

echo
echo "report: ${report#"$root"/}/ (summary.txt, files.txt, html/index.html)"
echo "took $((SECONDS - start)) s"
if ((!tests_ok)); then
    echo "coverage.sh: some tests failed; the figures above are from that run" >&2
    exit 1
fi
