#!/usr/bin/env bash
# Builds the benchmarks without sanitizers (build-bench/) and runs them.
#   scripts/bench.sh [benchmark options]
# The image benchmarks compare against ImageMagick (Magick++), libvips and
# leptonica; their development packages are installed here when missing (the
# main build and the tests never need them).
set -euo pipefail
cd "$(dirname "$0")/.."

peers=()
pkg-config --exists Magick++ 2>/dev/null || peers+=(libmagick++-dev)
pkg-config --exists vips-cpp 2>/dev/null || peers+=(libvips-dev)
pkg-config --exists lept 2>/dev/null || peers+=(libleptonica-dev)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null; then
    echo "bench.sh: could not install ${peers[*]}; those comparisons are left out" >&2
  fi
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet_bench
QUILLET_UI=none build-bench/bench/quillet_bench "$@"
