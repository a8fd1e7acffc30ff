#!/usr/bin/env bash
# Builds the effect and the pennaro tool, then runs the main job on the
# bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

./build/default/cli/pennaro describe
