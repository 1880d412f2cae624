#!/usr/bin/env bash
# Builds the fuzz targets as libFuzzer programs with clang and runs one of
# them for a while, adding what it finds to its corpus.
#   scripts/fuzz.sh fuzz_cmdline [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:?usage: scripts/fuzz.sh TARGET [seconds]}"
seconds="${2:-60}"
out=build-fuzz
mkdir -p "$out"
sources=$(ls platform/*.cpp log/*.cpp twain/*.cpp fileio/*.cpp dib/*.cpp engines/*.cpp app/*.cpp | grep -v app/main.cpp)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I. -Iinclude -DQUILLET_HELP_PAGE='"README.md"' \
  $sources "tests/fuzz/$target.cpp" -o "$out/$target" -ldl -pthread
mkdir -p "$out/corpus-$target"
QUILLET_UI=none "$out/$target" -max_total_time="$seconds" -max_len=4096 \
  "$out/corpus-$target" "tests/fuzz/corpus/$target"
echo "New inputs are in $out/corpus-$target; copy the interesting ones to tests/fuzz/corpus/$target."
