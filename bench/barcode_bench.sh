#!/usr/bin/env bash
# Barcode reading, Release build:
#  1. time on a 300-dpi letter page (2550 x 3300, 8-bit gray PNG) holding a
#     Code 128 and an EAN-13: the library in process (barcode_run, best of
#     the runs, engines 1 and 2), `orivane barcodes` as a whole process, and
#     zbarimg as a whole process, with the ratio of each to ours;
#  2. read rate over the zint pages: every type zint makes (11 linear types,
#     QR Code, Data Matrix, PDF417) on a 4 x 3 inch page at 300 dpi, upright,
#     turned 90, 180 and 270 degrees and by 4 degrees: how many each reader
#     reads with the right text (zbarimg knows 12 of the 14 types).
#   bench/barcode_bench.sh [runs]        (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target orivane_tool barcode_run OrvSymbol OrvPng >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
orivane="$PWD/build-bench/orivane"
run="$PWD/build-bench/bench/barcode_run"
export QUILLET_MODULE_PATH="$PWD/build-bench" QUILLET_UI=none

# Best wall-clock milliseconds of `runs` runs of a command.
best_ms() {
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

# ---- 1. time on a letter page ----------------------------------------------
zint -b CODE128 -d "PAGE-0001" --scale=2 -o "$work/c128.png" >/dev/null
zint -b EANX -d 590123412345 --scale=2 -o "$work/ean.png" >/dev/null
convert -size 2550x3300 xc:white "$work/c128.png" -geometry +1700+300 -composite \
  "$work/ean.png" -geometry +300+2700 -composite -colorspace gray -depth 8 "$work/letter.png"

ours1=$("$run" "$work/letter.png" "$runs" 1 | sed -n 's/best_ms=\([0-9.]*\).*/\1/p')
ours2=$("$run" "$work/letter.png" "$runs" 2 | sed -n 's/best_ms=\([0-9.]*\).*/\1/p')
tool=$(best_ms "$orivane" barcodes "$work/letter.png")
tool2=$(best_ms "$orivane" barcodes "$work/letter.png" Axtel)
zbar=$(best_ms zbarimg -q "$work/letter.png")
found_ours=$("$orivane" barcodes "$work/letter.png" | wc -l)
found_zbar=$(zbarimg -q "$work/letter.png" 2>/dev/null | wc -l)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "letter page, 300 dpi, two codes (best of $runs):"
printf "  %-38s %8s ms  codes %s\n" "Talven in process (barcode_run)" "$ours1" "$found_ours"
printf "  %-38s %8s ms  x%s of Talven\n" "Axtel in process (barcode_run)" "$ours2" "$(ratio "$ours2" "$ours1")"
printf "  %-38s %8s ms\n" "orivane barcodes (whole process)" "$tool"
printf "  %-38s %8s ms\n" "orivane barcodes FILE Axtel" "$tool2"
printf "  %-38s %8s ms  codes %s  x%s of orivane barcodes\n" "zbarimg (whole process)" "$zbar" \
  "$found_zbar" "$(ratio "$zbar" "$tool")"

# ---- 2. read rate over the zint pages --------------------------------------
samples=(
  "EANX 590123412345 5901234123457" "EANX 7351353 73513537" "UPCA 72527273070 725272730706"
  "UPCE 0123456 01234565" "CODE39 CODE-39 CODE-39" "EXCODE39 Ab+c! Ab+c!"
  "CODE128 Code128-text Code128-text" "C25INTER 12345678 12345678" "CODABAR A40156B 40156"
  "GS1_128 [01]09501101530003 0109501101530003" "CODE93 CODE93-TEST CODE93-TEST"
  "QRCODE QR-text-1 QR-text-1" "DATAMATRIX DM-text-1 DM-text-1" "PDF417 PDF417-text PDF417-text"
)
total=0 ours=0 axtel=0 zbar_ok=0
for s in "${samples[@]}"; do
  read -r symbology data text <<<"$s"
  zint -b "$symbology" -d "$data" --scale=2 -o "$work/code.png" >/dev/null
  for turn in 0 90 180 270 4; do
    page="$work/page-$symbology-$turn.png"
    convert -size 1200x900 xc:white "$work/code.png" -gravity center -composite \
      -background white -rotate "$turn" -colorspace gray -depth 8 "$page"
    total=$((total + 1))
    "$orivane" barcodes "$page" 2>/dev/null | cut -f2 | grep -qxF -- "$text" && ours=$((ours + 1))
    "$orivane" barcodes "$page" Axtel 2>/dev/null | cut -f2 | grep -qxF -- "$text" && axtel=$((axtel + 1))
    # zbarimg prints Codabar with its start and stop characters.
    zbarimg -q --raw "$page" 2>/dev/null | sed 's/^[A-D]\(.*\)[A-D]$/\1/' | grep -qxF -- "$text" &&
      zbar_ok=$((zbar_ok + 1))
  done
done
echo "read rate over $total zint pages (14 types x upright, 90, 180, 270, 4 degrees):"
printf "  %-38s %3d / %d\n" "Talven (orivane barcodes)" "$ours" "$total"
printf "  %-38s %3d / %d\n" "Axtel (orivane barcodes FILE Axtel)" "$axtel" "$total"
printf "  %-38s %3d / %d\n" "zbarimg" "$zbar_ok" "$total"
