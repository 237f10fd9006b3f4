#!/usr/bin/env bash
# The whole page (decode, convert, write) on the eight ITU-T test pages coded as T.6, at 200 and
# 300 dpi gray, 400 dpi black and white and A4 fixed size:
# 1. inside one process (page_bench: the code qrvpage runs, time per page and its parts, and the
#    limit: filling a buffer of the page file's size and writing it as a new file);
# 2. as whole processes, in the same run and interleaved page by page: qrvpage --bmp against
#    `vips resize` / `vips crop` and ImageMagick's convert doing the same decode and resize of the
#    same TIFF into an uncompressed file of the same depth; time per page, the ratios, and the
#    peak memory of one page (/usr/bin/time, maximum resident set size).
# Builds without sanitizers in build/bench (Release). Not part of the test command.
# usage: bench/run_page_bench.sh [rounds per page]
set -euo pipefail -f   # -f: no globbing, vips options are in brackets
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
rounds=${1:-3}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQRV_SANITIZE=OFF > /dev/null
cmake --build "$build" --target page_bench qrvpage qrv_test_documents > /dev/null
docs=$build/testdata/documents
qrvpage=$build/tools/page_tool/qrvpage
magick=/usr/bin/convert   # ImageMagick itself, not a wrapper earlier on the PATH
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "== in process: median over the pages of the best of 9 rounds, milliseconds; the limit is"
echo "== filling a buffer of the page file's size and writing it as a new file, measured alike"
"$build/bench/page_bench" "$docs" "$out" 9 | tee "$out/in_process.txt"
awk '/^300 dpi gray / { printf "300 dpi gray: the page takes %.2f times its limit (goal: within 3, %s)\n", $NF, ($NF <= 3) ? "met" : "not met" }' "$out/in_process.txt"

# One setting: its name, then the three commands with @IN@ for the document.
settings=(
  "200 dpi gray|$qrvpage --convert --resolution 200 --pixel-type gray --bmp $out/q.bmp @IN@ 1|vips resize @IN@ $out/v.pgm 1|$magick @IN@ -resize 100% -depth 8 $out/m.pgm"
  "300 dpi gray|$qrvpage --convert --resolution 300 --pixel-type gray --bmp $out/q.bmp @IN@ 1|vips resize @IN@ $out/v.pgm 1.5|$magick @IN@ -resize 150% -depth 8 $out/m.pgm"
  "400 dpi black and white|$qrvpage --convert --resolution 400 --bmp $out/q.bmp @IN@ 1|vips resize @IN@ $out/v.pbm[bitdepth=1] 2 --kernel nearest|$magick @IN@ -sample 200% $out/m.pbm"
  "A4 200 dpi black and white|$qrvpage --convert --paper 826x1168 --bmp $out/q.bmp @IN@ 1|vips crop @IN@ $out/v.pbm[bitdepth=1] 0 0 1652 2336|$magick @IN@ -crop 1652x2336+0+0 $out/m.pbm"
)

run() {   # <command with @IN@> <document>: one run, output discarded
  local command=${1//@IN@/$2}
  # shellcheck disable=SC2086
  $command > /dev/null 2>&1
}

peak_kb() {   # <command with @IN@> <document>
  local command=${1//@IN@/$2}
  # shellcheck disable=SC2086
  /usr/bin/time -f %M $command 2>&1 >/dev/null | tail -1
}

echo
echo "== whole processes: milliseconds per page (mean over 8 pages x $rounds rounds), peak memory of page 1"
printf "%-28s %9s %9s %9s %9s %9s   %s\n" setting qrvpage vips magick "vips/q" "magick/q" "peak KB qrvpage / vips / magick"
for setting in "${settings[@]}"; do
  IFS='|' read -r name ours vips im <<< "$setting"
  commands=("$ours" "$vips" "$im")
  totals=(0 0 0)
  for r in $(seq "$rounds"); do
    for p in 1 2 3 4 5 6 7 8; do
      doc=$docs/t6/ccitt$p.tif
      for i in 0 1 2; do
        start=${EPOCHREALTIME/./}
        run "${commands[$i]}" "$doc" || { echo "failed: ${commands[$i]//@IN@/$doc}"; exit 1; }
        totals[$i]=$(( totals[i] + ${EPOCHREALTIME/./} - start ))
      done
    done
  done
  n=$(( rounds * 8 ))
  # Microseconds per page (EPOCHREALTIME: no process started to read the clock).
  q=$(( totals[0] / n )); v=$(( totals[1] / n )); m=$(( totals[2] / n ))
  doc=$docs/t6/ccitt1.tif
  printf "%-28s %9.1f %9.1f %9.1f %9.1f %9.1f   %s / %s / %s\n" "$name" \
    "$(echo "$q / 1000" | bc -l)" "$(echo "$v / 1000" | bc -l)" "$(echo "$m / 1000" | bc -l)" \
    "$(echo "$v / $q" | bc -l)" "$(echo "$m / $q" | bc -l)" \
    "$(peak_kb "$ours" "$doc")" "$(peak_kb "$vips" "$doc")" "$(peak_kb "$im" "$doc")"
done
echo
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
