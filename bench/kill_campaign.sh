#!/usr/bin/env bash
# Kills scan runs at random moments and checks what they leave on disk.
#   bench/kill_campaign.sh [KILLS] [SEED]      (defaults 50 and 1)
# Each round sets up a folder state, starts one run (a new /PDF+ file, a
# /TIFF+ file replacing an old one, a /PDF+ /APPEND onto an archive, or
# numbered single pages), kills it with SIGKILL after a random delay, and
# checks every final name: absent, as it was before, or a complete file
# (qpdf --check, tiffinfo). After each kill a normal run scans into the same
# folder; no temporary or lock file of ours may be left after it.
# Uses build/quillet unless QUILLET_BIN names another program.
set -uo pipefail
cd "$(dirname "$0")/.."
kills=${1:-50}
RANDOM=${2:-1}
bin=${QUILLET_BIN:-$PWD/build/quillet}
[ -x "$bin" ] || { echo "kill_campaign.sh: no program at $bin (build first)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/vscan.ini" <<EOF
[device]
product = Scanner
feeder_sheets = 40
two_sided = no
resolutions = 150
dpi_default = 150
width = 8.5
height = 11
events = 1:slow=60, 2:slow=60, 3:slow=60, 4:slow=60, 5:slow=60, 6:slow=60
EOF
export QUILLET_VSCAN="$work/vscan.ini" QUILLET_UI=none HOME="$work" TMPDIR="$work"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

out="$work/out"
mkdir -p "$out"
declare -A outcome
leftovers_before=0
leftovers_after=0
corrupt=0

ours() { find "$out" -maxdepth 1 \( -name '.orv-tmp.*' -o -name '.orv-lock.*' \) | wc -l; }

whole() {  # a complete file of its kind
  case "$1" in
    *.pdf) qpdf --check "$1" >/dev/null 2>&1 ;;
    *.tif) tiffinfo "$1" >/dev/null 2>&1 ;;
  esac
}

# The state of a final name against what it held before the run.
judge() {
  local name=$1 before=$2
  if [ ! -e "$name" ]; then
    [ "$before" = "absent" ] && echo absent || echo LOST
  elif [ "$before" != "absent" ] && [ "$(sha1sum < "$name")" = "$before" ]; then
    echo old
  elif whole "$name"; then
    echo complete
  else
    echo CORRUPT
  fi
}

sum_of() { [ -e "$1" ] && sha1sum < "$1" || echo absent; }

for ((k = 1; k <= kills; k++)); do
  rm -f "$out"/*.pdf "$out"/*.tif
  scenario=$((k % 4))
  case $scenario in
    0) args=(/N=6 /RGB /PDF+ /ADF "$out/new.pdf"); names=("$out/new.pdf") ;;
    1) "$bin" /N=2 /TIFF+ /ADF "$out/report.tif" >/dev/null 2>&1
       args=(/N=6 /RGB /TIFF+ /ADF "$out/report.tif"); names=("$out/report.tif") ;;
    2) "$bin" /N=3 /PDF+ /ADF "$out/archive.pdf" >/dev/null 2>&1
       args=(/N=6 /PDF+ /APPEND /ADF "$out/archive.pdf"); names=("$out/archive.pdf") ;;
    3) args=(/N=4 /ADF "$out/page01.tif"); names=("$out/page01.tif" "$out/page02.tif" "$out/page03.tif" "$out/page04.tif") ;;
  esac
  declare -A before=()
  for n in "${names[@]}"; do before[$n]=$(sum_of "$n"); done
  "$bin" "${args[@]}" >/dev/null 2>&1 &
  pid=$!
  # Anywhere from start-up to the end of the document (a run takes about
  # half a second to two and a half seconds).
  sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.3f", (r % 2500) / 1000 }')"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  for n in "${names[@]}"; do
    verdict=$(judge "$n" "${before[$n]}")
    outcome[$verdict]=$(( ${outcome[$verdict]:-0} + 1 ))
    case $verdict in LOST|CORRUPT) corrupt=$((corrupt + 1)); echo "round $k: $n $verdict" >&2 ;; esac
  done
  leftovers_before=$((leftovers_before + $(ours)))
  # The next normal run in the same folder clears what the killed one left.
  "$bin" /ADF "$out/next.tif" >/dev/null 2>&1
  left=$(ours)
  leftovers_after=$((leftovers_after + left))
  [ "$left" -eq 0 ] || echo "round $k: $left temporary files left after the next run" >&2
done

echo "kills=$kills"
for v in absent old complete LOST CORRUPT; do echo "final_${v}=${outcome[$v]:-0}"; done
echo "temporaries_after_kill=$leftovers_before"
echo "temporaries_after_next_run=$leftovers_after"
[ "$corrupt" -eq 0 ] && [ "$leftovers_after" -eq 0 ]
