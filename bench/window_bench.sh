#!/usr/bin/env bash
# The screen's drawing: DIB_DrawToDC of a 300-dpi letter RGB page into an
# 800 x 1035 area against Magick++'s box-filter scaling of the same page to
# the same size, and the time from a window's creation to its first painted
# frame, on a virtual display started here (Xvfb).
#   bench/window_bench.sh [benchmark options]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v Xvfb >/dev/null || { echo "window_bench.sh: Xvfb is missing (scripts/setup.sh installs it)" >&2; exit 1; }
exec 3< <(Xvfb -displayfd 1 -nolisten tcp -noreset -screen 0 1280x1100x24 2>/dev/null)
xvfb_pid=$!
read -r -t 20 number <&3 || { echo "window_bench.sh: Xvfb did not start" >&2; exit 1; }
trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
DISPLAY=":$number" scripts/bench.sh --benchmark_filter='DrawToDC|DrawScale|FirstFrame' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
