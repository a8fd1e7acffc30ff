#!/usr/bin/env bash
# Builds and runs every test lane: the optimized build, the ASan+UBSan
# build, and a bounded fuzz run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --all

echo "== optimized build and tests"
cmake --preset default
cmake --build --preset default
ctest --preset default

echo "== ASan + UBSan build and tests"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

if [ -x fuzz/run.sh ]; then
  echo "== bounded fuzz run, each target ${PENNARO_FUZZ_SECONDS:-60} s, two at a time"
  fuzz/run.sh "${PENNARO_FUZZ_SECONDS:-60}"
fi

echo "== Windows lane: pennaro.dll cross-built with MinGW-w64, tested under Wine"
scripts/windows-lane.sh
