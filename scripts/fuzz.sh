#!/usr/bin/env bash
# Builds a fuzz target as a libFuzzer program with clang and runs it for a
# while, adding what it finds to its corpus.
#   scripts/fuzz.sh fuzz_cmdline [seconds]
#   scripts/fuzz.sh fuzz_load_png [seconds]    (codec targets also build their module)
#   scripts/fuzz.sh fuzz_load_gif 0 -runs=1000000    (0 = no time limit; the rest goes to libFuzzer)
#   scripts/fuzz.sh fuzz_ocr [seconds]         (builds OrvOcr too; needs libtesseract-dev)
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:?usage: scripts/fuzz.sh TARGET [seconds]}"
seconds="${2:-60}"
shift $(( $# < 2 ? $# : 2 ))
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all -I. -Iinclude
       $(pkg-config --cflags freetype2 fontconfig))
layers=(platform log core dib fileio upload print engines ui twain app)
# The engine modules live under engines/ but are modules, not library code.
sources=$(find "${layers[@]}" -name '*.cpp' ! -path app/main.cpp ! -path 'engines/*/*' | sort)

# A codec target loads its module from QUILLET_MODULE_PATH: build the module
# with coverage too. OrvPdf is built with g++ (clang 14 cannot compile qpdf's
# headers in C++20) and without sanitizers, since g++'s AddressSanitizer
# runtime cannot load into a clang fuzzer; it runs without coverage feedback.
# The dispatch target loads every module.
build_module() {
  local module=$1 lib=$2 libs=$3
  if [ "$module" = pdf ]; then
    g++ -std=c++20 -g -O1 -I. -Iinclude -fPIC -shared -fvisibility=hidden \
      codecs/$module/*.cpp $libs -o "$out/$lib.so"
  else
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -fPIC -shared -fvisibility=hidden \
      codecs/$module/*.cpp $libs -o "$out/$lib.so"
  fi
}
declare -A module_libs=(
  [jpeg]="OrvJpeg:-ljpeg" [png]="OrvPng:-lpng" [gif]="OrvGif:-lgif" [tiff]="OrvTiff:-ltiff"
  [dcx]="OrvDcx:" [pdf]="OrvPdf:$(pkg-config --libs libqpdf) -ljpeg -ltiff -lz"
)
case "$target" in
  fuzz_barcode) modules=() ;;
  fuzz_load_dispatch) modules=(jpeg png gif tiff dcx pdf) ;;
  fuzz_load_*) modules=("${target#fuzz_load_}") ;;
  *) modules=() ;;
esac
for module in "${modules[@]}"; do
  entry=${module_libs[$module]}
  build_module "$module" "${entry%%:*}" "${entry#*:}"
done
# The OCR target loads OrvOcr, built with coverage like the codecs, against
# the system's Tesseract and the OpenMP runtime Tesseract runs on (libgomp).
if [ "$target" = fuzz_ocr ]; then
  # shellcheck disable=SC2046
  clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -fPIC -shared -fvisibility=hidden \
    $(pkg-config --cflags tesseract lept) engines/ocr/*.cpp $(pkg-config --libs tesseract lept) -lgomp \
    -o "$out/OrvOcr.so"
fi
# The barcode target reads through OrvSymbol, built with coverage like a codec.
if [ "$target" = fuzz_barcode ]; then
  clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -fPIC -shared -fvisibility=hidden \
    engines/symbol/*.cpp $(pkg-config --libs zxing zbar) -o "$out/OrvSymbol.so"
fi
# The library and front end are compiled once for every target, into an
# archive named for the sources and headers it was built from.
version=$(sed -n 's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# A fuzz program is never installed: the install layout is only a name here.
defines=(-DQUILLET_HELP_PAGE='"README.md"' -DQUILLET_VERSION_TEXT="\"$version.0\""
         -DORV_INSTALLED_MODULES='"../lib/quillet"' -DORV_INSTALLED_SOURCES='"../lib/twain"'
         -DORV_INSTALLED_DOCS='"../share/doc/quillet"')
key=$( (echo "${flags[*]} ${defines[*]}"; find "${layers[@]}" include codecs/codec_abi.h -name '*.[ch]*' | sort | xargs cat) |
  sha1sum | cut -c1-16)
archive="$out/library-$key.a"
if [ ! -f "$archive" ]; then
  objects="$out/obj-$key"
  mkdir -p "$objects"
  echo "$sources" | xargs -P"$(nproc)" -I{} sh -c \
    'dir=$0 src=$1; shift; exec clang++ "$@" -fsanitize=fuzzer-no-link -c "$src" -o "$dir/$(echo "$src" | tr / _).o"' \
    "$objects" {} "${flags[@]}" "${defines[@]}" >"$objects.log" 2>&1 ||
    { cat "$objects.log" >&2; exit 1; }
  rm -f "$archive.tmp"
  ar rcs "$archive.tmp" "$objects"/*.o
  mv "$archive.tmp" "$archive"
  rm -rf "$objects"
fi
clang++ "${flags[@]}" "${defines[@]}" -fsanitize=fuzzer -rdynamic "tests/fuzz/$target.cpp" \
  -Wl,--whole-archive "$archive" -Wl,--no-whole-archive -o "$out/$target" -ldl -pthread \
  $(pkg-config --libs freetype2 fontconfig) -lcups -lz -lfltk -lX11
mkdir -p "$out/corpus-$target"
QUILLET_UI=none QUILLET_MODULE_PATH="$PWD/$out" "$out/$target" -max_total_time="$seconds" \
  -max_len=65536 -artifact_prefix="$out/$target-" "$@" "$out/corpus-$target" "tests/fuzz/corpus/$target"
echo "New inputs are in $out/corpus-$target; copy the interesting ones to tests/fuzz/corpus/$target."
