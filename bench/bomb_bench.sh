#!/usr/bin/env bash
# Decompression bombs against the image loaders (Release build): every
# bomb_* file of the fuzz corpora is given to `orivane info` and to
# `orivane deskew` under GNU time, and each run's wall time and peak resident
# memory are printed against the bounds a refusal must keep (1 s, 100 MB).
# Then real pages, which must still load: a 300-dpi A3 RGB page (3508 x 4961)
# and a 600-dpi US Letter RGB page (5100 x 6600), written by ImageMagick in
# every format and layout the loaders read (PDF by our own writer, and by
# img2pdf around the JPEG when it is installed), given to `orivane info`
# only: their time and memory are those of the page itself.
#   bench/bomb_bench.sh [--bombs-only]
# The corpus files are made by tests/fuzz/make_bombs.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bombs_only=${1:-}

peers=()
[ -x /usr/bin/time ] || peers+=(time)
command -v convert >/dev/null || peers+=(imagemagick)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF >/dev/null
cmake --build build-bench --target orivane_tool OrvJpeg OrvTiff OrvPng OrvGif OrvDcx OrvPdf >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool="$PWD/build-bench/orivane"
export QUILLET_MODULE_PATH="$PWD/build-bench" HOME="$work" TMPDIR="$work" QUILLET_UI=none

max_seconds=1
max_mb=100

# Runs the tool under GNU time; sets secs, mb and what (the answer's first
# line: the size loaded, or the refusal).
measure() {
  set +e
  /usr/bin/time -v -o "$work/time" "$tool" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  set -e
  secs=$(awk -F': ' '/Elapsed \(wall clock\)/ {
           n = split($2, p, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + p[i]; printf "%.2f", s }' "$work/time")
  mb=$(awk '/Maximum resident set size/ { printf "%.0f", $NF / 1024 }' "$work/time")
  if [ $status -eq 0 ]; then
    what="loaded $(awk -F= '/^width=/ {w=$2} /^height=/ {h=$2} END {if (w) print w " x " h}' "$work/out")"
    if [ "$what" = "loaded " ]; then what="done"; fi
  else
    what=$(head -c 400 "$work/err" | head -n 1 | sed 's/.*: \(Error reading file\|JPEG error\|TIFF error\|Not enough memory[^:]*\|This PDF format is not supported\.\)/\1/' | cut -c1-120)
  fi
}

within() { awk -v s="$1" -v m="$2" -v S="$max_seconds" -v M="$max_mb" 'BEGIN { print (s < S && m < M) ? "yes" : "NO" }'; }

echo "Bombs: orivane info FILE / orivane deskew FILE OUT.bmp (bounds: < ${max_seconds} s, < ${max_mb} MB)"
printf '%-34s %8s %7s %8s %7s %-6s %s\n' case "info s" "info MB" "deskew s" "desk MB" within result
for f in tests/fuzz/corpus/*/bomb_*; do
  measure info "$f"
  i_s=$secs i_mb=$mb result=$what
  measure deskew "$f" "$work/out.bmp"
  printf '%-34s %8s %7s %8s %7s %-6s %s\n' "$(basename "$f")" "$i_s" "$i_mb" "$secs" "$mb" \
    "$( [ "$(within "$i_s" "$i_mb")" = yes ] && within "$secs" "$mb" || echo NO)" "$result"
  rm -f "$work/out.bmp"
done

[ "$bombs_only" = "--bombs-only" ] && exit 0

echo
echo "Real pages: orivane info FILE (written by ImageMagick)"
printf '%-34s %8s %7s %9s %s\n' page s MB "file KB" result
page() {  # name width height dpi
  local name=$1 w=$2 h=$3 dpi=$4
  local text
  text=$(for i in $(seq 1 60); do echo "Line $i: invoices, letters and forms are what a document scanner sees all day."; done)
  convert -size "${w}x${h}" xc:white \
    \( -size "$((w / 2))x$((h / 5))" plasma:fractal -seed 7 \) -geometry "+$((w / 4))+$((h / 12))" -composite \
    -font DejaVu-Sans -pointsize $((dpi / 10)) -fill black -annotate "+$((w / 12))+$((h / 3))" "$text" \
    -density "$dpi" -units PixelsPerInch -depth 8 "$work/$name.ppm"
  local src="$work/$name.ppm"
  convert "$src" -type TrueColor BMP3:"$work/$name.bmp"
  convert "$src" -quality 85 "$work/$name.jpg"
  convert "$src" -quality 85 -interlace JPEG "$work/$name-progressive.jpg"
  convert "$src" -compress None "$work/$name-none.tif"
  convert "$src" -compress LZW "$work/$name-lzw.tif"
  convert "$src" -compress Zip "$work/$name-deflate.tif"
  convert "$src" -compress Zip -interlace Plane "$work/$name-planar.tif"
  convert "$src" -compress Zip -define tiff:tile-geometry=256x256 "$work/$name-tiled.tif"
  convert "$src" -compress JPEG -quality 85 "$work/$name-jpeg.tif"
  convert "$src" "$work/$name.png"
  convert "$src" -colors 256 "$work/$name.gif"
  convert "$src" DCX:"$work/$name.dcx"
  # ImageMagick's security policy refuses PDF: our own writer makes it.
  "$tool" convert "$work/$name.bmp" "$work/$name.pdf"
  if command -v img2pdf >/dev/null; then img2pdf -o "$work/$name-dct.pdf" "$work/$name.jpg"; fi
  rm -f "$src"
  for f in "$work/$name".* "$work/$name"-*; do
    measure info "$f"
    printf '%-34s %8s %7s %9s %s\n' "$(basename "$f")" "$secs" "$mb" "$(( $(stat -c %s "$f") / 1024 ))" "$what"
  done
  rm -f "$work/$name".* "$work/$name"-*
}
page a3-300dpi 3508 4961 300
page letter-600dpi 5100 6600 600
