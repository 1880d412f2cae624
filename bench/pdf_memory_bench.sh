#!/usr/bin/env bash
# Peak memory and time per page of long /PDF+ documents: RGB pages at 200 dpi,
# letter size, one-sided, from the virtual scanner's feeder, each run under
# GNU time. A PDF's pages wait in a spool file until the document is written,
# so the peak must stay flat as the page count grows: the 1,000-page run
# within 10% of the 100-page run.
#   bench/pdf_memory_bench.sh [--base REV] [pages...]    (default: 100 1000)
# --base REV also builds that revision (in build-bench-base/, a Release build
# of `git archive REV`) and runs the same documents with it: the figures from
# before a change, beside ours.
set -euo pipefail
cd "$(dirname "$0")/.."

base=""
if [ "${1:-}" = "--base" ]; then
  base=$(git rev-parse --verify "${2:?--base needs a revision}^{commit}")
  shift 2
fi
pages_list=("$@")
[ ${#pages_list[@]} -gt 0 ] || pages_list=(100 1000)
[ -x /usr/bin/time ] || { echo "pdf_memory_bench.sh: GNU time (/usr/bin/time) is needed: apt-get install time" >&2; exit 2; }

targets=(quillet twaindsm VirtualScanner OrvPdf OrvJpeg OrvTiff)
# A Release build of the tree in $1 into $1/build-bench.
build_release() {
  cmake -S "$1" -B "$1/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
  cmake --build "$1/build-bench" -j"$(nproc)" --target "${targets[@]}" >/dev/null
}

build_release "$PWD"
builds=("ours:$PWD/build-bench/quillet")
if [ -n "$base" ]; then
  src="$PWD/build-bench-base/src"
  if [ "$(cat "$src/.revision" 2>/dev/null || true)" != "$base" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    git archive "$base" | tar -x -C "$src"
    echo "$base" >"$src/.revision"
  fi
  build_release "$src"
  builds=("base ${base:0:10}:$src/build-bench/quillet" "${builds[@]}")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '%-18s %6s %9s %9s %11s %11s\n' build pages peak_MB seconds s/page cpu_s/page
declare -A peak
for entry in "${builds[@]}"; do
  name=${entry%%:*}
  quillet=${entry#*:}
  for pages in "${pages_list[@]}"; do
    cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder_sheets = $pages
two_sided = no
resolutions = 200
dpi_default = 200
width = 8.5
height = 11
INI
    rm -f "$work"/out.pdf
    (cd "$work" && HOME="$work" TMPDIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini" \
      /usr/bin/time -f "%e %U %S %M" -o "$work/time" \
      "$quillet" "/N=$pages" /RGB /R=200 /PDF+ /ADF out.pdf >"$work/report" 2>&1) ||
      { echo "pdf_memory_bench.sh: the $pages-page run of $name failed:" >&2; cat "$work/report" >&2; exit 1; }
    got=$(pdfinfo "$work/out.pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')
    [ "$got" = "$pages" ] || { echo "pdf_memory_bench.sh: $name wrote ${got:-no} pages, not $pages" >&2; exit 1; }
    read -r secs user sys kb <"$work/time"
    peak[$name/$pages]=$kb
    awk -v n="$name" -v p="$pages" -v k="$kb" -v s="$secs" -v u="$user" -v y="$sys" \
      'BEGIN { printf "%-18s %6d %9.1f %9.2f %11.4f %11.4f\n", n, p, k / 1024, s, s / p, (u + y) / p }'
  done
  if [ ${#pages_list[@]} -ge 2 ]; then
    first=${pages_list[0]}
    last=${pages_list[${#pages_list[@]}-1]}
    awk -v n="$name" -v a="${peak[$name/$first]}" -v b="${peak[$name/$last]}" -v f="$first" -v l="$last" \
      'BEGIN { printf "%-18s peak of %d pages is %+.1f%% of %d pages\n", n, l, 100 * (b - a) / a, f }'
  fi
done
