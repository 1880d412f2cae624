#!/usr/bin/env bash
# OCR speed and accuracy against its peers, in one run on the same pages:
#  1. one 300-dpi letter text page (8-bit gray, from the virtual scanner):
#     `orivane ocr` (OrvOcr: orientation detection, then the page, one
#     thread) against the `tesseract` command on the same file, both with
#     Tesseract's OpenMP threads and with one thread (OMP_THREAD_LIMIT=1);
#  2. a 10-page searchable PDF: `quillet /OCR /PDF+` from the virtual scanner
#     against the same pages scanned to TIFF, put into a PDF by img2pdf and
#     made searchable by ocrmypdf (Debian's packages, installed here when
#     missing; the tests never need them): seconds, peak memory and the word
#     accuracy of the text pdftotext recovers (against the prose the virtual
#     scanner prints).
# Each timing is the median of RUNS runs (default 3) on an otherwise busy
# machine: compare the ratios, not the seconds.
#   bench/ocr_bench.sh [pages]        (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
pages=${1:-10}
runs=${RUNS:-3}

peers=()
command -v img2pdf >/dev/null || peers+=(img2pdf)
command -v ocrmypdf >/dev/null || peers+=(ocrmypdf)
command -v tesseract >/dev/null || peers+=(tesseract-ocr)
[ -x /usr/bin/time ] || peers+=(time)
if [ ${#peers[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -n"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${peers[@]}" >/dev/null ||
    echo "ocr_bench.sh: could not install ${peers[*]}; those comparisons are left out" >&2
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON -DORV_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target quillet orivane_tool twaindsm VirtualScanner OrvPdf OrvTiff \
  OrvJpeg OrvOcr >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
quillet="$PWD/build-bench/quillet"
orivane="$PWD/build-bench/orivane"
prose="$PWD/sources/virtual/pages/text.cpp"
export HOME="$work" TMPDIR="$work" QUILLET_UI=none QUILLET_VSCAN="$work/vscan.ini"
cat >"$work/vscan.ini" <<INI
[device]
product = Bench Scanner
feeder_sheets = $pages
two_sided = no
pixel_type = gray
resolutions = 300
dpi_default = 300
width = 8.5
height = 11
INI

# "seconds user+sys peak_MB" of a command: the median run by seconds.
measure() {
  local i
  for ((i = 0; i < runs; ++i)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    awk '{ printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024 }' "$work/time"
  done | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

# Word accuracy of a PDF's text against the printed prose (the measure of
# tests/ocr_accuracy.h): printed words read exactly, over the printed words
# from the first matched to the last, page by page.
accuracy() {
  python3 - "$prose" "$1" <<'PY'
import re, subprocess, sys
src = open(sys.argv[1]).read()
body = src[src.index("kParagraphs = {"):]
body = body[:body.index("};")]
paragraphs, cur = [], ""
for tok in re.findall(r'"((?:[^"\\]|\\.)*)"|(,)', body):
    if tok[1] and cur: paragraphs.append(cur); cur = ""
    elif tok[0]: cur += tok[0]
if cur: paragraphs.append(cur)
def words(t):
    out = []
    for w in t.split():
        w = w.strip("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~")
        if w: out.append(w)
    return out
truth = [w for _ in range(3) for p in paragraphs for w in words(p)]
pages = int(re.search(r"Pages:\s+(\d+)", subprocess.run(["pdfinfo", sys.argv[2]], capture_output=True, text=True).stdout).group(1))
matched = span = 0
for page in range(1, pages + 1):
    text = subprocess.run(["pdftotext", "-f", str(page), "-l", str(page), sys.argv[2], "-"], capture_output=True, text=True).stdout
    read = words(text)
    n, m = len(read), len(truth)
    lcs = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        for j in range(m - 1, -1, -1):
            lcs[i][j] = lcs[i + 1][j + 1] + 1 if read[i] == truth[j] else max(lcs[i + 1][j], lcs[i][j + 1])
    i = j = 0; first = last = -1; hits = 0
    while i < n and j < m:
        if read[i] == truth[j] and lcs[i][j] == lcs[i + 1][j + 1] + 1:
            first = j if first < 0 else first; last = j; hits += 1; i += 1; j += 1
        elif lcs[i + 1][j] >= lcs[i][j + 1]: i += 1
        else: j += 1
    matched += hits; span += (last - first + 1) if first >= 0 else 0
print(f"{100.0 * matched / span if span else 0:.2f}%")
PY
}

# ---- 1. One page ----------------------------------------------------------
(cd "$work" && "$quillet" /N=1 page.tif >/dev/null)
echo "One 300-dpi letter page (8-bit gray, $(identify -format '%wx%h' "$work/page.tif")), median of $runs runs"
printf '%-50s %8s %9s %8s\n' run seconds cpu_secs peak_MB
row() { printf '%-50s %8s %9s %8s\n' "$1" $2; }
ours=$(measure "$orivane" ocr "$work/page.tif")
row "orivane ocr (one thread, with orientation)" "$ours"
ours_omp=$(OMP_NUM_THREADS=4 measure "$orivane" ocr "$work/page.tif")
row "orivane ocr (OpenMP threads)" "$ours_omp"
tess1=$(OMP_THREAD_LIMIT=1 measure tesseract "$work/page.tif" -)
row "tesseract --psm 3 (one thread)" "$tess1"
tess=$(measure tesseract "$work/page.tif" -)
row "tesseract --psm 3 (OpenMP threads)" "$tess"
tess_osd=$(OMP_THREAD_LIMIT=1 measure tesseract "$work/page.tif" - --psm 1)
row "tesseract --psm 1, with orientation (one thread)" "$tess_osd"
ratio() { awk -v a="${1%% *}" -v b="${2%% *}" 'BEGIN { printf "%.2f", a / b }'; }
echo "ours / tesseract one thread: $(ratio "$ours" "$tess1") (psm 3), $(ratio "$ours" "$tess_osd") (psm 1)"
echo "one thread / OpenMP: ours $(ratio "$ours" "$ours_omp"), tesseract $(ratio "$tess1" "$tess")"

# ---- 2. A searchable document --------------------------------------------
echo
echo "A $pages-page searchable PDF from the virtual scanner (300 dpi letter, gray), median of $runs runs"
printf '%-50s %8s %9s %8s %9s\n' run seconds cpu_secs peak_MB words
(cd "$work" && rm -f doc.pdf && measure "$quillet" /OCR /PDF+ /N="$pages" doc.pdf >"$work/q")
printf '%-50s %8s %9s %8s %9s\n' "quillet /OCR /PDF+" $(cat "$work/q") "$(accuracy "$work/doc.pdf")"
(cd "$work" && "$quillet" /TIF+ /N="$pages" pages.tif >/dev/null)
if command -v img2pdf >/dev/null && command -v ocrmypdf >/dev/null; then
  peer() { img2pdf "$work/pages.tif" -o "$work/raw.pdf" && ocrmypdf -q --output-type pdf "$work/raw.pdf" "$work/peer.pdf"; }
  export -f peer
  export work
  measure bash -c peer >"$work/p"
  printf '%-50s %8s %9s %8s %9s\n' "img2pdf + ocrmypdf" $(cat "$work/p") "$(accuracy "$work/peer.pdf")"
  peer1() { OMP_THREAD_LIMIT=1 ocrmypdf -q --jobs 1 --output-type pdf "$work/raw.pdf" "$work/peer1.pdf"; }
  export -f peer1
  img2pdf "$work/pages.tif" -o "$work/raw.pdf"
  measure bash -c peer1 >"$work/p1"
  printf '%-50s %8s %9s %8s %9s\n' "ocrmypdf --jobs 1, one thread (img2pdf done)" $(cat "$work/p1") \
    "$(accuracy "$work/peer1.pdf")"
fi
