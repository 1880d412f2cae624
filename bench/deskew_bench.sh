#!/usr/bin/env bash
# Whole-process deskew: `orivane skew` and `orivane deskew` on a 300-DPI
# letter gray page turned by 2.3 degrees (printed by the virtual scanner,
# written as TIFF and as PGM), against unpaper's deskew and ImageMagick's
# `convert -deskew 40%` on the same page files. Reports milliseconds per run
# (best of the runs), the ratio to ours and the angle each tool found.
#   bench/deskew_bench.sh [runs]        (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

peers=()
command -v unpaper >/dev/null || peers+=(unpaper)
command -v convert >/dev/null || peers+=(imagemagick)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null ||
    echo "deskew_bench.sh: could not install ${peers[*]}; those comparisons are left out" >&2
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet orivane_tool twaindsm VirtualScanner OrvTiff >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
orivane="$PWD/build-bench/orivane"
quillet="$PWD/build-bench/quillet"
cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder = no
resolutions = 300
dpi_default = 300
width = 8.5
height = 11
refuse_caps = ICAP_AUTOMATICDESKEW
events = 1:skew=2.3
INI
(cd "$work" && HOME="$work" TMPDIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini" \
  "$quillet" /GRAY page.tif >/dev/null)
convert "$work/page.tif" "$work/page.pgm"

# Best wall-clock milliseconds of `runs` runs of a command.
best_ms() {
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

ours_skew=$(best_ms "$orivane" skew "$work/page.tif")
ours_deskew=$(best_ms "$orivane" deskew "$work/page.tif" "$work/ours.tif")
angle_ours=$("$orivane" skew "$work/page.tif")
after_ours=$("$orivane" skew "$work/ours.tif")

row() { awk -v n="$1" -v ms="$2" -v base="$3" -v a="$4" \
  'BEGIN { printf "%-34s %8d %8.2f  %s\n", n, ms, (base > 0 ? ms / base : 0), a }'; }
printf '%-34s %8s %8s  %s\n' run ms ratio angle/result
row "orivane skew (tif)" "$ours_skew" "$ours_skew" "$angle_ours"
row "orivane deskew (tif -> tif)" "$ours_deskew" "$ours_deskew" "after: $after_ours"
if command -v unpaper >/dev/null; then
  unpaper_ms=$(best_ms unpaper --overwrite --no-blackfilter --no-noisefilter --no-blurfilter --no-border-scan \
    --no-mask-center -dr 8 -dn left "$work/page.pgm" "$work/unpaper.pgm")
  convert "$work/unpaper.pgm" "$work/unpaper.tif"
  row "unpaper deskew (pgm -> pgm)" "$unpaper_ms" "$ours_deskew" "after: $("$orivane" skew "$work/unpaper.tif")"
fi
if command -v convert >/dev/null; then
  magick_ms=$(best_ms convert "$work/page.tif" -deskew 40% "$work/magick.tif")
  row "convert -deskew 40% (tif -> tif)" "$magick_ms" "$ours_deskew" \
    "found: $(convert "$work/page.tif" -deskew 40% -format '%[deskew:angle]' info:)"
fi
