#!/usr/bin/env bash
# Builds the benchmarks without sanitizers (build-bench/) and runs them.
#   scripts/bench.sh [benchmark options]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet_bench
QUILLET_UI=none build-bench/bench/quillet_bench "$@"
