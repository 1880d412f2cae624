#!/usr/bin/env bash
# Builds a fuzz target as a libFuzzer program with clang and runs it for a
# while, adding what it finds to its corpus.
#   scripts/fuzz.sh fuzz_cmdline [seconds]
#   scripts/fuzz.sh fuzz_load_png [seconds]    (codec targets also build their module)
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:?usage: scripts/fuzz.sh TARGET [seconds]}"
seconds="${2:-60}"
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all -I. -Iinclude)
sources=$(ls platform/*.cpp log/*.cpp twain/*.cpp fileio/*.cpp dib/*.cpp engines/*.cpp app/*.cpp | grep -v app/main.cpp)

# A codec target loads its module from QUILLET_MODULE_PATH: build the module
# with coverage too (OrvPdf with g++: clang 14 cannot compile qpdf's headers
# in C++20, so that module runs without coverage feedback).
case "$target" in
  fuzz_load_jpeg) module=jpeg; lib=OrvJpeg; libs="-ljpeg" ;;
  fuzz_load_png)  module=png;  lib=OrvPng;  libs="-lpng" ;;
  fuzz_load_gif)  module=gif;  lib=OrvGif;  libs="-lgif" ;;
  fuzz_load_tiff) module=tiff; lib=OrvTiff; libs="-ltiff" ;;
  fuzz_load_dcx)  module=dcx;  lib=OrvDcx;  libs="" ;;
  fuzz_load_pdf)  module=pdf;  lib=OrvPdf;  libs="$(pkg-config --libs libqpdf) -ljpeg -ltiff -lz" ;;
  *) module="" ;;
esac
if [ -n "$module" ]; then
  compiler=clang++; cov=(-fsanitize=fuzzer-no-link)
  [ "$module" = pdf ] && { compiler=g++; cov=(); }
  $compiler "${flags[@]}" "${cov[@]}" -fPIC -shared -fvisibility=hidden \
    codecs/$module/*.cpp $libs -o "$out/$lib.so"
fi
clang++ "${flags[@]}" -fsanitize=fuzzer -rdynamic -DQUILLET_HELP_PAGE='"README.md"' \
  $sources "tests/fuzz/$target.cpp" -o "$out/$target" -ldl -pthread
mkdir -p "$out/corpus-$target"
QUILLET_UI=none QUILLET_MODULE_PATH="$PWD/$out" "$out/$target" -max_total_time="$seconds" \
  -max_len=65536 "$out/corpus-$target" "tests/fuzz/corpus/$target"
echo "New inputs are in $out/corpus-$target; copy the interesting ones to tests/fuzz/corpus/$target."
