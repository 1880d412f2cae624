#!/usr/bin/env bash
# Server mode against local runs, with a virtual scanner that takes 2 s to
# open as a real one does: N one-page requests through /BG to a running
# server vs N local runs of the same command (seconds per page both ways,
# and the ratio); then the round trip of an empty request (/BG /NOSCAN, read
# by a raw client) against a bare SEQPACKET ping-pong in the same run, in
# microseconds, and the whole /BG client process for comparison.
#   bench/server_bench.sh [pages] [round_trips]     (default: 50 2000)
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-50}
trips=${2:-2000}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet twaindsm VirtualScanner OrvTiff OrvJpeg >/dev/null

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill -9 "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
c++ -O2 -std=c++20 bench/seqpacket_roundtrip.cpp -o "$work/roundtrip"
quillet="$PWD/build-bench/quillet"
cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder_sheets = 1000000
two_sided = no
resolutions = 300
dpi_default = 300
width = 8.5
height = 11
open_delay_ms = 2000
INI
export HOME="$work" TMPDIR="$work" XDG_RUNTIME_DIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini"
cd "$work"

now() { date +%s.%N; }
# Seconds per page of `pages` one-page runs of the command.
per_page() {
  local start end
  start=$(now)
  for i in $(seq 1 "$pages"); do "$@" /N=1 "page$i.tif" >/dev/null; done
  end=$(now)
  # Only written pages count: a run that failed would time nothing.
  [ "$(ls page*.tif 2>/dev/null | wc -l)" -eq "$pages" ] || { echo "server_bench.sh: pages missing" >&2; exit 1; }
  rm -f page*.tif
  awk -v s="$start" -v e="$end" -v n="$pages" 'BEGIN { printf "%.4f", (e - s) / n }'
}

local_spp=$(per_page "$quillet")
"$quillet" /SERVER >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 1 200); do [ -S "$work/Talven.Quillet" ] && break; sleep 0.05; done
server_spp=$(per_page "$quillet" /BG)
read -r server_mean server_median < <("$work/roundtrip" "$work/Talven.Quillet" "$trips" "/BG /NOSCAN")
read -r bare_mean bare_median < <("$work/roundtrip" --bare "$trips")
start=$(now)
for _ in $(seq 1 100); do "$quillet" /BG /NOSCAN >/dev/null; done
client_us=$(awk -v s="$start" -v e="$(now)" 'BEGIN { printf "%.0f", (e - s) * 1e6 / 100 }')
"$quillet" /BG /STOP >/dev/null
wait "$server_pid" || true
server_pid=

printf '%-40s %12s\n' measure value
printf '%-40s %12s\n' "local run, s/page ($pages pages)" "$local_spp"
printf '%-40s %12s\n' "/BG to a server, s/page ($pages pages)" "$server_spp"
printf '%-40s %12s\n' "ratio local / server" "$(awk -v a="$local_spp" -v b="$server_spp" 'BEGIN { printf "%.1f", a / b }')"
printf '%-40s %12s\n' "empty request round trip, us (mean/med)" "$server_mean/$server_median"
printf '%-40s %12s\n' "bare SEQPACKET ping-pong, us (mean/med)" "$bare_mean/$bare_median"
printf '%-40s %12s\n' "whole /BG /NOSCAN client process, us" "$client_us"
