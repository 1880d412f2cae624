#!/usr/bin/env bash
# Whole runs of the image-file path (bench/codec_run, Release build) against
# the command-line tool of the same codec library doing the same job, in the
# same run, on the same 300-dpi US Letter pages (2550 x 3300):
#   RGB page -> JPEG q75      codec_run jpeg   vs  cjpeg -quality 75 (libjpeg-turbo),
#                             on the PPM and on the same BMP file
#   gray page -> JPEG q75     codec_run jpeg   vs  cjpeg -quality 75
#   BW page -> TIFF Group 4   codec_run tiff   vs  tiffcp -c g4 (libtiff)
#   20 JPEG pages -> one PDF  codec_run pdf    vs  img2pdf
# Each figure is the best of R runs, in ms per page of wall time and of CPU
# time (user + system), with the ratio ours / tool (below 1 is faster). Tool
# runs include their process start, as ours do. The PDF's image streams are checked to be the source JPEG files byte
# for byte (pdfimages -j): the pages are wrapped, never re-encoded.
#   bench/codec_bench.sh [pages per run (default 5)] [runs (default 5)]
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-5}
runs=${2:-5}

peers=()
command -v cjpeg >/dev/null || peers+=(libjpeg-turbo-progs)
command -v tiffcp >/dev/null || peers+=(libtiff-tools)
command -v img2pdf >/dev/null || peers+=(img2pdf)
command -v pdfimages >/dev/null || peers+=(poppler-utils)
command -v convert >/dev/null || peers+=(imagemagick)
[ -x /usr/bin/time ] || peers+=(time)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null ||
    echo "codec_bench.sh: could not install ${peers[*]}; those comparisons are left out" >&2
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench --target codec_run OrvJpeg OrvTiff OrvPdf >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run="$PWD/build-bench/bench/codec_run"
export QUILLET_MODULE_PATH="$PWD/build-bench" HOME="$work" TMPDIR="$work" QUILLET_UI=none

# ---- The pages: a document with a photograph, a gradient and text ----------
text=$(for i in $(seq 1 40); do
  echo "Line $i of the benchmark page: invoices, letters and forms are what a document scanner sees all day."
done)
convert -size 2550x3300 gradient:'#f4f8ff-#fff4e8' \
  \( -size 1700x1100 plasma:fractal -seed 7 \) -geometry +425+250 -composite \
  -font DejaVu-Sans -pointsize 30 -fill black -annotate +200+1500 "$text" \
  -depth 8 "$work/page.ppm"
convert "$work/page.ppm" -type TrueColor BMP3:"$work/page.bmp"
convert "$work/page.ppm" -colorspace Gray -depth 8 "$work/gray.pgm"
# (ImageMagick writes gray BMPs as 24-bit: the library reads the gray page
# from an uncompressed TIFF instead.)
convert "$work/gray.pgm" -depth 8 -compress None "$work/gray.tif"
convert "$work/gray.pgm" -threshold 60% -depth 1 -type Bilevel -compress None "$work/bw.tif"
for i in $(seq -w 1 20); do
  convert "$work/page.ppm" -roll +$((10#$i * 37))+0 ppm:- | cjpeg -quality 75 >"$work/src$i.jpg"
done

# Best of `runs` runs of a command: "wall_ms cpu_ms" (cpu = user + system,
# all threads; steadier than wall time on a shared machine).
best_ms() {
  local best_wall="" best_cpu=""
  for _ in $(seq 1 "$runs"); do
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>&1 ||
      { echo "codec_bench.sh: failed: $*" >&2; return 1; }
    read -r wall cpu < <(awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' "$work/time")
    if [ -z "$best_wall" ] || [ "$wall" -lt "$best_wall" ]; then best_wall=$wall; fi
    if [ -z "$best_cpu" ] || [ "$cpu" -lt "$best_cpu" ]; then best_cpu=$cpu; fi
  done
  echo "$best_wall $best_cpu"
}
repeat() { local n=$1 f=$2; for _ in $(seq 1 "$n"); do printf '%s\n' "$f"; done; }
# loop.sh N COMMAND...: the tool once per page (OUT = a numbered file).
cat >"$work/loop.sh" <<'SH'
n=$1; shift
for i in $(seq 1 "$n"); do "${@//OUT/$WORK/tool$i}"; done
SH

printf '%-26s %9s %9s %6s %9s %9s %6s  %s\n' job ours_ms tool_ms ratio ours_cpu tool_cpu ratio output
row() {  # row NAME "OURS_WALL OURS_CPU" "TOOL_WALL TOOL_CPU" PAGES NOTE  (per page)
  awk -v n="$1" -v o="$2" -v t="$3" -v p="$4" -v note="$5" 'BEGIN {
    split(o, a, " "); split(t, b, " ");
    printf "%-26s %9.1f %9.1f %6.2f %9.1f %9.1f %6.2f  %s\n", n, a[1] / p, b[1] / p,
      (b[1] > 0 ? a[1] / b[1] : 0), a[2] / p, b[2] / p, (b[2] > 0 ? a[2] / b[2] : 0), note }'
}
size_of() { stat -c %s "$1"; }

mapfile -t rgb_in < <(repeat "$pages" "$work/page.bmp")
ours=$(best_ms "$run" jpeg 75 "$work/ours" "${rgb_in[@]}")
tool=$(best_ms env WORK="$work" bash "$work/loop.sh" "$pages" cjpeg -quality 75 -outfile OUT.jpg "$work/page.ppm")
row "RGB page -> JPEG q75" "$ours" "$tool" "$pages" \
  "$(size_of "$work/ours0.jpg") vs $(size_of "$work/tool1.jpg") bytes"

# The same BMP file for both: cjpeg's BMP reader turns the bottom-up BGR rows
# around as the library's encoder does.
tool=$(best_ms env WORK="$work" bash "$work/loop.sh" "$pages" cjpeg -quality 75 -outfile OUT.jpg "$work/page.bmp")
row "  (cjpeg reading the BMP)" "$ours" "$tool" "$pages" "$(size_of "$work/tool1.jpg") bytes"

mapfile -t gray_in < <(repeat "$pages" "$work/gray.tif")
ours=$(best_ms "$run" jpeg 75 "$work/ours" "${gray_in[@]}")
tool=$(best_ms env WORK="$work" bash "$work/loop.sh" "$pages" cjpeg -quality 75 -outfile OUT.jpg "$work/gray.pgm")
row "gray page -> JPEG q75" "$ours" "$tool" "$pages" \
  "$(size_of "$work/ours0.jpg") vs $(size_of "$work/tool1.jpg") bytes"

mapfile -t bw_in < <(repeat "$pages" "$work/bw.tif")
ours=$(best_ms "$run" tiff "$work/ours" "${bw_in[@]}")
tool=$(best_ms env WORK="$work" bash "$work/loop.sh" "$pages" tiffcp -c g4 "$work/bw.tif" OUT.tif)
g4=$(tiffinfo "$work/ours0.tif" 2>/dev/null | grep -c "CCITT Group 4" || true)
row "BW page -> TIFF G4" "$ours" "$tool" "$pages" \
  "$(size_of "$work/ours0.tif") vs $(size_of "$work/tool1.tif") bytes, G4=$g4"

sources=("$work"/src*.jpg)
ours=$(best_ms "$run" pdf "$work/ours.pdf" "${sources[@]}")
tool=$(best_ms img2pdf "${sources[@]}" -o "$work/tool.pdf")
mkdir -p "$work/raw"
pdfimages -j "$work/ours.pdf" "$work/raw/img"
same=0
for i in "${!sources[@]}"; do
  cmp -s "${sources[$i]}" "$(printf '%s/raw/img-%03d.jpg' "$work" "$i")" && same=$((same + 1))
done
row "20 JPEG pages -> PDF" "$ours" "$tool" "${#sources[@]}" \
  "$(size_of "$work/ours.pdf") vs $(size_of "$work/tool.pdf") bytes, streams identical: $same/${#sources[@]}"
[ "$same" -eq "${#sources[@]}" ] || { echo "codec_bench.sh: the PDF re-encoded its pages" >&2; exit 1; }
