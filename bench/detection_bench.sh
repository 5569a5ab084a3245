#!/usr/bin/env bash
# Builds the detection benchmark in release mode and runs it once: a generated tree of
# 100,000 files in 1,000 folders, nothing changed, compared with find on the same warm tree.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-detect-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON -DTARNWICK_UI=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" --target detection_bench -j 2
"$build/bench/detection_bench" "$@"
