#!/usr/bin/env bash
# Upload and download through libcurl, Release build, against the tests'
# recording web server on 127.0.0.1 (tests/helpers/http_recorder.py):
#  1. posting a 20-page PDF of 300-dpi letter pages (scanned from the virtual
#     scanner): `orivane upload` as a whole process vs `curl -F` as a whole
#     process, best of the runs, and the ratio;
#  2. fetching a 20-page TIFF of the same pages and loading every page:
#     `orivane fetch URL` vs `curl -o` and then `orivane fetch` of the local
#     file (the same loader), and the ratio.
#   bench/upload_bench.sh [runs]        (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet orivane_tool twaindsm VirtualScanner OrvPdf OrvTiff \
  OrvJpeg >/dev/null

work=$(mktemp -d)
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid"; rm -rf "$work"' EXIT
orivane="$PWD/build-bench/orivane"
quillet="$PWD/build-bench/quillet"
export HOME="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini"
cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder_sheets = 20
two_sided = no
pixel_type = gray
resolutions = 300
dpi_default = 300
INI
(cd "$work" && "$quillet" /PDF+ /N=20 doc.pdf >/dev/null && "$quillet" /TIF+ /N=20 doc.tif >/dev/null)

python3 tests/helpers/http_recorder.py --port-file "$work/port" --log /dev/null --serve-dir "$work" &
server_pid=$!
for _ in $(seq 100); do [ -f "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")"

best_ms() {
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

pdf_mb=$(awk -v b="$(stat -c %s "$work/doc.pdf")" 'BEGIN { printf "%.1f", b / 1048576 }')
ours=$(best_ms "$orivane" upload "$url/up" "$work/doc.pdf")
peer=$(best_ms curl -s -F "file1=@$work/doc.pdf;type=application/pdf" "$url/up")
echo "upload of a 20-page PDF ($pdf_mb MB), best of $runs:"
echo "  orivane upload  $ours ms"
echo "  curl -F         $peer ms"
echo "  ours / curl     $(ratio "$ours" "$peer")"

tif_mb=$(awk -v b="$(stat -c %s "$work/doc.tif")" 'BEGIN { printf "%.1f", b / 1048576 }')
ours=$(best_ms "$orivane" fetch "$url/file/doc.tif" "$work/out.tif")
fetch_local() { curl -s -o "$work/got.tif" "$url/file/doc.tif" && "$orivane" fetch "$work/got.tif" "$work/out2.tif"; }
peer=$(best_ms fetch_local)
echo "download and load of a 20-page TIFF ($tif_mb MB), best of $runs:"
echo "  orivane fetch URL          $ours ms"
echo "  curl -o + orivane fetch    $peer ms"
echo "  ours / curl + loader       $(ratio "$ours" "$peer")"
