#!/usr/bin/env bash
# Whole runs of multipage scanning from the virtual scanner: a 10- and a
# 100-page /PDF+ and /TIFF+ (Group 4) document at 300 dpi, letter size, no
# device delay. Reports pages per minute, peak memory (it must stay flat as
# the page count grows) and the share of the run spent waiting for the
# background writer; compares with SANE's scanimage on its test backend
# writing the same pages, followed by img2pdf (Debian's packages).
#   bench/scan_bench.sh [pages...]        (default: 10 100)
set -euo pipefail
cd "$(dirname "$0")/.."
pages_list=("${@:-10 100}")
read -r -a pages_list <<<"${pages_list[*]}"

peers=()
command -v scanimage >/dev/null || peers+=(sane-utils)
command -v img2pdf >/dev/null || peers+=(img2pdf)
[ -x /usr/bin/time ] || peers+=(time)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null ||
    echo "scan_bench.sh: could not install ${peers[*]}; that comparison is left out" >&2
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet twaindsm VirtualScanner OrvPdf OrvTiff OrvJpeg >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quillet="$PWD/build-bench/quillet"

# Seconds and peak resident kilobytes of a command, as "secs kb".
measure() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }

printf '%-28s %6s %9s %10s %9s %12s\n' run pages seconds pages/min peak_MB writer_wait
for pages in "${pages_list[@]}"; do
  cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder_sheets = $pages
two_sided = no
resolutions = 300
dpi_default = 300
width = 8.5
height = 11
INI
  for kind in PDF TIFF; do
    ext=$([ $kind = PDF ] && echo pdf || echo tif)
    rm -f "$work"/out.* "$work"/orivane*.log
    read -r secs kb < <(cd "$work" && HOME="$work" TMPDIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini" \
      measure "$quillet" "/$kind+" /ADF "out.$ext")
    # The writer's share, from a traced run of the same document.
    rm -f "$work"/out.*
    (cd "$work" && HOME="$work" TMPDIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini" \
      "$quillet" /LOG "/$kind+" /ADF "out.$ext" >/dev/null 2>&1) || true
    log=$(ls "$work"/*.log 2>/dev/null | head -1 || true)
    finish=$(grep -s -o 'FinishBgWriter took \[[0-9]*ms\]' "$log" | grep -o '[0-9]*' | tail -1 || true)
    queued=$(grep -o 'Writer queue waits: [0-9]*ms' "$log" | grep -o '[0-9]*' | tail -1 || true)
    wait_ms=$(( ${finish:-0} + ${queued:-0} ))
    share=$(awk -v w="$wait_ms" -v s="$secs" 'BEGIN { printf "%.0f%%", (s > 0 ? 100 * w / 1000 / s : 0) }')
    ppm=$(awk -v p="$pages" -v s="$secs" 'BEGIN { printf "%.0f", (s > 0 ? 60 * p / s : 0) }')
    printf '%-28s %6d %9.2f %10s %9.1f %12s\n' "quillet /$kind+" "$pages" "$secs" "$ppm" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$share"
  done
  if command -v scanimage >/dev/null && command -v img2pdf >/dev/null; then
    rm -f "$work"/p*.tif "$work"/peer.pdf
    cat >"$work/peer.sh" <<SH
cd "$work"
scanimage -d test --mode Gray --depth 1 --resolution 300 -x 215.9 -y 279.4 --format=tiff \
  --batch="p%04d.tif" --batch-count=$pages >/dev/null 2>&1
img2pdf p*.tif -o peer.pdf >/dev/null 2>&1
SH
    read -r secs kb < <(measure sh "$work/peer.sh")
    ppm=$(awk -v p="$pages" -v s="$secs" 'BEGIN { printf "%.0f", (s > 0 ? 60 * p / s : 0) }')
    printf '%-28s %6d %9.2f %10s %9.1f %12s\n' "scanimage+img2pdf" "$pages" "$secs" "$ppm" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "-"
  fi
done
