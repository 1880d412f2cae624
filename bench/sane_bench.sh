#!/usr/bin/env bash
# A multipage gray document at 300 dpi from SANE's test backend (its feeder,
# 80 x 100 mm pages), through the SANE bridge: `quillet /TIFF+` against
# `scanimage --batch` followed by `tiffcp` of the same pages. Reports seconds,
# the ratio to scanimage (the bridge should add almost nothing to the
# device's own time) and peak memory, which must stay flat as the page count
# grows. The test backend's feeder holds 10 sheets (it reports the feeder
# empty at every 11th scan of a device): larger counts are scanned in batches
# of 10 on both sides, quillet's later batches appended (/APPEND) to its file,
# scanimage's numbered on; the pages column says how many arrived.
#   bench/sane_bench.sh [pages...]        (default: 5 20)
set -euo pipefail
cd "$(dirname "$0")/.."
pages_list=("${@:-5 20}")
read -r -a pages_list <<<"${pages_list[*]}"

command -v scanimage >/dev/null && command -v tiffcp >/dev/null && [ -x /usr/bin/time ] || {
  echo "sane_bench.sh: needs scanimage (sane-utils), tiffcp (libtiff-tools) and /usr/bin/time" >&2
  exit 1
}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet twaindsm SaneBridge VirtualScanner OrvTiff OrvJpeg >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quillet="$PWD/build-bench/quillet"
mkdir "$work/sane"
echo test >"$work/sane/dll.conf"
printf 'number_of_devices 1\nresolution 300\ntest-picture "Color pattern"\n' >"$work/sane/test.conf"
export SANE_CONFIG_DIR="$work/sane" HOME="$work" TMPDIR="$work" XDG_RUNTIME_DIR="$work" QUILLET_UI=none

# Seconds and peak resident kilobytes of a command, as "secs kb".
measure() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }

printf '%-24s %6s %9s %9s %9s\n' run pages seconds ratio peak_MB
for pages in "${pages_list[@]}"; do
  rm -f "$work"/out.tif "$work"/p*.tif "$work"/peer.tif
  # Each side as one timed script: its batches of at most 10 sheets.
  {
    echo "cd '$work'"
    left=$pages append=""
    while [ "$left" -gt 0 ]; do
      n=$((left > 10 ? 10 : left))
      echo "'$quillet' /S=frontend-tester /ADF /N=$n /GRAY /R=300 /TIFF+ $append out.tif || exit 1"
      left=$((left - n)) append=/APPEND
    done
  } >"$work/quillet.sh"
  {
    echo "cd '$work'"
    left=$pages start=1
    while [ "$left" -gt 0 ]; do
      n=$((left > 10 ? 10 : left))
      echo "scanimage -d test:0 --source 'Automatic Document Feeder' --mode Gray --resolution 300 \\"
      echo "  --test-picture 'Color pattern' --format=tiff --batch='p%04d.tif' --batch-start=$start \\"
      echo "  --batch-count=$n >/dev/null 2>&1"
      left=$((left - n)) start=$((start + n))
    done
    echo "tiffcp p*.tif peer.tif"
  } >"$work/peer.sh"
  read -r q_secs q_kb < <(measure sh "$work/quillet.sh")
  got=$(tiffinfo "$work/out.tif" 2>/dev/null | grep -c "TIFF Directory" || true)
  read -r s_secs s_kb < <(measure sh "$work/peer.sh")
  ratio=$(awk -v q="$q_secs" -v s="$s_secs" 'BEGIN { printf "%.2f", (s > 0 ? q / s : 0) }')
  printf '%-24s %6s %9.2f %9s %9.1f\n' "quillet /TIFF+ (bridge)" "$got" "$q_secs" "$ratio" \
    "$(awk -v k="$q_kb" 'BEGIN { print k / 1024 }')"
  printf '%-24s %6s %9.2f %9s %9.1f\n' "scanimage + tiffcp" "$pages" "$s_secs" "1.00" \
    "$(awk -v k="$s_kb" 'BEGIN { print k / 1024 }')"
done
