#!/usr/bin/env bash
# Printing, Release build, against a CUPS scheduler of this script's own (a
# private configuration and socket; its queue's backend copies each job's
# document into a folder; needs root, as cupsd hands its children to nobody):
# a 20-page 300-dpi letter TIFF from the virtual scanner, `orivane print`
# (every page placed in one PDF job) against `lp` of the same TIFF to the
# same queue (sent as it is): seconds until CUPS has written the job, best of
# the runs, and the size of what the queue received.
#   bench/print_bench.sh [runs]        (default: 3)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
[ "$(id -u)" -eq 0 ] || { echo "print_bench.sh: run as root (cupsd)" >&2; exit 1; }

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet orivane_tool twaindsm VirtualScanner OrvTiff OrvJpeg >/dev/null

work=$(mktemp -d)
chmod 755 "$work"
cupsd_pid=""
trap '[ -n "$cupsd_pid" ] && kill "$cupsd_pid"; rm -rf "$work"' EXIT
orivane="$PWD/build-bench/orivane"
quillet="$PWD/build-bench/quillet"
export HOME="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini"
printf '[device]\nproduct = Bench Scanner\nfeeder_sheets = 20\ntwo_sided = no\npixel_type = gray\nresolutions = 300\ndpi_default = 300\n' \
  >"$work/vscan.ini"
(cd "$work" && "$quillet" /TIF+ /N=20 doc.tif >/dev/null)

c="$work/cups"
mkdir -p "$c"/{spool,cache,state,log,out,bin/backend}
chmod 777 "$c/out"
for d in /usr/lib/cups/*; do [ "$(basename "$d")" = backend ] || ln -s "$d" "$c/bin/"; done
cat >"$c/bin/backend/capture" <<'SH'
#!/bin/sh
if [ $# -eq 0 ]; then echo 'direct capture "Unknown" "Capture"'; exit 0; fi
dir=${DEVICE_URI#capture:}
if [ -n "$6" ]; then cat "$6"; else cat; fi > "$dir/job-$1.part" && mv "$dir/job-$1.part" "$dir/job-$1"
SH
chmod 755 "$c/bin/backend/capture"
printf 'Listen %s/cups.sock\nLogLevel warn\nWebInterface No\nBrowsing No\nDefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n' \
  "$c" >"$c/cupsd.conf"
printf 'ServerRoot %s\nServerBin %s/bin\nRequestRoot %s/spool\nCacheDir %s/cache\nStateDir %s/state\nTempDir %s/spool\nErrorLog %s/log/error_log\nUser nobody\nGroup nogroup\n' \
  "$c" "$c" "$c" "$c" "$c" "$c" "$c" >"$c/cups-files.conf"
cupsd -f -c "$c/cupsd.conf" -s "$c/cups-files.conf" &
cupsd_pid=$!
export CUPS_SERVER="$c/cups.sock"
for _ in $(seq 100); do [ -S "$CUPS_SERVER" ] && break; sleep 0.05; done
lpadmin -p capq -v "capture:$c/out" -E -m raw -o media-default=na_letter_8.5x11in 2>/dev/null
lpadmin -d capq

# Milliseconds from the command's start until the queue has written job $id.
until_written() {
  local t0 t1 id
  t0=$(date +%s%N)
  id=$("$@")
  while [ ! -f "$c/out/job-$id" ]; do sleep 0.01; done
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000000 )) $(stat -c %s "$c/out/job-$id")"
}
ours_job() { "$orivane" print "$work/doc.tif" | sed 's/^job //'; }
lp_job() { lp -d capq "$work/doc.tif" | sed 's/^request id is capq-\([0-9]*\).*/\1/'; }
best() {
  local best="" line
  for _ in $(seq "$runs"); do
    line=$(until_written "$@")
    if [ -z "$best" ] || [ "${line%% *}" -lt "${best%% *}" ]; then best=$line; fi
  done
  echo "$best"
}
ours=$(best ours_job)
peer=$(best lp_job)
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1048576 }'; }
echo "printing a 20-page 300-dpi letter TIFF ($(mb "$(stat -c %s "$work/doc.tif")")), best of $runs, until the queue wrote it:"
echo "  orivane print   ${ours%% *} ms, spooled $(mb "${ours##* }")"
echo "  lp              ${peer%% *} ms, spooled $(mb "${peer##* }")"
awk -v a="${ours%% *}" -v b="${peer%% *}" 'BEGIN { printf "  ours / lp       %.2f\n", a / b }'
