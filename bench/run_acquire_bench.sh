#!/usr/bin/env bash
# A batch of 56 pages (seven documents of eight JBIG pages) acquired from the device simulator
# through the real source, the manager and twacquire under Wine, by each mechanism (the median of
# [rounds] batches, 3 unless told, each against a qrvpage run right after it): pages per second
# (from the first page file written to the last) and the peak memory of the acquiring process
# (/usr/bin/time, maximum resident set size of the largest process, which is twacquire with the
# source loaded), and from a second batch in gray the number of pages held at the peak.
# For comparison, qrvpage (built without sanitizers) writing the same 56 page files alone.
#
# The designed waits are reported apart: the source waits 100 ms after each document's last page
# before it goes on; those that lie between the first page file and the last are counted from the
# batch's file events, and each mechanism's time per page is set against qrvpage's with them and
# without them. Where the rest goes is read from the same events (bench/file_timeline, watching
# from outside Wine): each interval between two of the application's page files is split at the
# source's events inside it: the document's fetch, the decode (the temporary "Bit" file's life),
# converting and writing the source's page file, and what comes before and after them.
# Uses the x64 build and a Wine prefix of its own (build/x64/benchprefix). Not part of the test
# command.
# usage: bench/run_acquire_bench.sh [rounds]
set -euo pipefail
rounds=${1:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source bench/wine_bench.sh
cmake --preset native >/dev/null
cmake --build --preset native --target device_simulator device_sample_storage >/dev/null
sample=$root/build/native/tools/device_simulator/sample
# qrvpage without sanitizers, as bench/run_page_bench.sh builds it, and the file event timeline.
bench_release_build qrvpage file_timeline
qrvpage=$root/build/bench/tools/page_tool/qrvpage
timeline=$root/build/bench/bench/file_timeline
bench_install_source "$root/build/x64/bench_acquire"

# Seven copies of the eight-page JBIG document in one folder.
{
  echo '<?xml version="1.0" encoding="UTF-8"?>'
  echo '<storage name="Bench" type="1"><user id="001" handle="1" name="Alice Archer" password=""><folder id="00000100" name="Inbox">'
  for i in 0 1 2 3 4 5 6; do
    id=$(printf '%08d' $((2000 + i)))
    cp "$sample/documents/00001005.tif" "$work/storage/documents/$id.tif"
    echo "<document id=\"$id\" subject=\"Batch $i\" timestamp=\"2024/06/01 10:0$i:00\" pages=\"8\" doctype=\"SCAN\" status=\"NEW\" file=\"documents/$id.tif\"/>"
  done
  echo '</folder></user></storage>'
} >"$work/storage/storage.xml"

bench_start_simulator build/native/tools/device_simulator/device_simulator

cat >"$work/app/user.txt" <<'SCRIPT'
wait-dialog 1038 60000
select 1038 0
settext 1036 ""
click 1
wait-dialog 1071 60000
sleep 1000
click 1020
select 1001 0
select 1001 1
select 1001 2
select 1001 3
select 1001 4
select 1001 5
select 1001 6
sleep 500
click 1007
wait-gone 600000
SCRIPT

rate() {   # <pages> <first file> <last file>: pages per second between the two files' writes
  local first last
  first=$(stat -c %.Y "$2"); last=$(stat -c %.Y "$3")
  awk -v n="$1" -v a="$first" -v b="$last" 'BEGIN { if (b > a) printf "%.2f", (n - 1) / (b - a); else print "n/a" }'
}

cd "$work/app"
# The same choices with gray-scale pages.
sed 's/^click 1007$/click 1014\nsleep 500\nclick 1007/' user.txt >user_gray.txt
mv user.txt user_bw.txt
# One batch: mechanism, pixel type (bw or gray); leaves pages/ and time.txt, prints the page count.
# The file events of the batch go to timeline_<mechanism>_<pixel type>.txt.
acquire() {
  rm -rf pages; mkdir pages
  "$QRV_WINE" reg delete "HKCU\\SOFTWARE\\Vantrel\\$reg_key\\TWAIN" /f >/dev/null 2>&1 || true
  local temp
  temp=$(find "$WINEPREFIX/drive_c/users" -maxdepth 2 -type d -name Temp | head -1)
  "$timeline" "timeline_$1_$2.txt" "$temp" pages &
  local watcher=$!
  /usr/bin/time -f %M -o time.txt "$root/scripts/wine-run.sh" ./twacquire.exe --source "$source_name" \
    --mech "$1" --script "user_$2.txt" --timeout 900 --out pages >"run_$1_$2.log" 2>&1 || true
  kill "$watcher"; wait "$watcher" || true
  find pages -name 'page*.bmp' | wc -l
}

peak_kib() { cat time.txt; }

# Seconds from the first page file's write to the last's (the interval pages per second count).
span() {   # <first file> <last file>
  awk -v a="$(stat -c %.Y "$1")" -v b="$(stat -c %.Y "$2")" 'BEGIN { printf "%.3f", b - a }'
}

# Where a batch's time goes, from its file events: each interval between two of the
# application's page files is split at the source's events inside it. Inside a document the
# source builds one page in it: before the build (the end of a page, the next transfer), decode
# (the temporary "Bit" file, from its creation to its deletion), convert and write (to the source's
# page file), after (to the application's page file). At a document's start it also fetches the
# document; the designed wait lies before the fetch. An interval without a build holds the last
# document's wait. Prints one line per kind of interval, milliseconds, and sets waits_inside.
split_times() {   # <mechanism> <timeline>
  awk -v m="$1" '
    { t = $1; event = $2; path = $3 }
    event == "WRITTEN" && path ~ /(^|\/)pages\/page[0-9]+\.bmp$/ {
      number = path; sub(/.*page/, "", number); sub(/\.bmp$/, "", number); number += 0
      if (!(number in app)) { app[number] = t; current = number; if (number > pages) pages = number }
      next
    }
    current == 0 { next }
    event == "CREATE" && path ~ /\/Bit[^\/]*\.tmp$/ { bit[current + 1] = t }
    event == "DELETE" && path ~ /\/Bit[^\/]*\.tmp$/ { bitGone[current + 1] = t }
    event == "WRITTEN" && path ~ /\.tif~[0-9]+\.bmp$/ && !((current + 1) in built) { built[current + 1] = t }
    event == "CREATE" && path ~ /\/qdl[^\/]*\.tmp$/ { fetch[current + 1] = t }
    event == "MOVED" && path ~ /\.tif$/ { fetched[current + 1] = t }
    function add(kind, page, before, get, decode, convert, after) {
      n[kind]++; sum[kind, 0] += page; sum[kind, 1] += before; sum[kind, 2] += get
      sum[kind, 3] += decode; sum[kind, 4] += convert; sum[kind, 5] += after
    }
    function show(kind, name) {
      if (!n[kind]) return
      printf "%-9s  %-22s %5d  %7.1f  %7.1f  %7.1f  %7.1f  %7.1f  %7.1f\n", m, name, n[kind], sum[kind, 0] / n[kind],
        sum[kind, 1] / n[kind], sum[kind, 2] / n[kind], sum[kind, 3] / n[kind], sum[kind, 4] / n[kind], sum[kind, 5] / n[kind]
    }
    END {
      for (p = 2; p <= pages; ++p) {
        page = app[p] - app[p - 1]
        if (p in fetch)
          add("start", page, fetch[p] - app[p - 1], fetched[p] - fetch[p], bitGone[p] - bit[p], built[p] - bitGone[p], app[p] - built[p])
        else if (p in bit)
          add("inside", page, bit[p] - app[p - 1], 0, bitGone[p] - bit[p], built[p] - bitGone[p], app[p] - built[p])
        else
          add("end", page, page, 0, 0, 0, 0)
      }
      show("inside", "inside a document")
      show("start", "a document'"'"'s start")
      show("end", "no page built")
      printf "%d\n", n["start"] + n["end"] > "/dev/stderr"
    }' "$2"
}

# qrvpage alone writing the same 56 page files: milliseconds per page.
mkdir -p "$work/qrvpage"
qrvpage_ms() {
  local start end
  start=$(date +%s.%N)
  for doc in 0 1 2 3 4 5 6; do
    for page in 1 2 3 4 5 6 7 8; do
      "$qrvpage" --convert --pixel-type bw --bmp "$work/qrvpage/p${doc}_$page.bmp" "$sample/documents/00001005.tif" "$page" >/dev/null
    done
  done
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", 1000 * (b - a) / 56 }'
}

# Pages per second, black and white pages as qrvpage writes them. The machine's speed drifts from
# minute to minute on a shared host, so each batch is paired with a qrvpage run right after it and
# set against that; of the rounds, the batch with the median ratio is shown. The designed waits:
# 100 ms after each document's last page. Those between the first page file and the last are
# counted from the file events: one before every document's fetch but the first's, and the last
# document's when the application writes its last page file after it (as twacquire does after a
# native or memory transfer; a file transfer's file is written before it). Then memory: the same
# batch in RGB, whose pages are 24 times the size; the growth of the peak over the black and white
# batch, divided by the growth of one page, is the number of pages held at once.
declare -A rates spans waits splits qrvpages ratios
echo "mechanism  pages  pages/s  peak (MiB)  gray peak (MiB)  pages held at the peak   (median of $rounds batches)"
# The mechanisms take turns round by round, so that a slow stretch of the machine falls on all.
for mech in native file memory; do rm -f "$work/rounds_$mech"; done
for round in $(seq "$rounds"); do
  for mech in native file memory; do
    n=$(acquire "$mech" bw)
    if [ "$n" -lt 2 ]; then echo "$mech: only $n pages (see $work/app/run_${mech}_bw.log)"; continue; fi
    last_page=$(printf 'pages/page%03d.bmp' "$n")
    batch_span=$(span pages/page001.bmp "$last_page")
    split_times "$mech" "timeline_${mech}_bw.txt" >"split_${mech}_$round.txt" 2>waits.txt
    batch_waits=$(cat waits.txt)
    qp=$(qrvpage_ms)
    ratio=$(awk -v s="$batch_span" -v w="$batch_waits" -v q="$qp" 'BEGIN { printf "%.4f", 1000 * (s - 0.1 * w) / 55 / q }')
    echo "$ratio $round $n $(rate "$n" pages/page001.bmp "$last_page") $batch_span $batch_waits $qp $(peak_kib) $(stat -c %s pages/page001.bmp)" >>"$work/rounds_$mech"
  done
done
for mech in native file memory; do
  [ -s "$work/rounds_$mech" ] || continue
  count=$(wc -l <"$work/rounds_$mech")
  read -r ratio round n rate_bw batch_span batch_waits qp peak_bw page_bw \
    < <(sort -n "$work/rounds_$mech" | sed -n "$(( (count + 1) / 2 ))p")
  rates[$mech]=$rate_bw; spans[$mech]=$batch_span; waits[$mech]=$batch_waits; qrvpages[$mech]=$qp
  splits[$mech]=$(cat "split_${mech}_$round.txt")
  ratios[$mech]=$(sort -n "$work/rounds_$mech" | awk '{ printf "%s%.2f", (NR > 1) ? " " : "", $1 }')
  n_gray=$(acquire "$mech" gray)
  if [ "$n_gray" -lt 1 ]; then echo "$mech: no gray page (see $work/app/run_${mech}_gray.log)"; continue; fi
  peak_gray=$(peak_kib); page_gray=$(stat -c %s pages/page001.bmp)
  awk -v m="$mech" -v n="$n" -v r="$rate_bw" -v a="$peak_bw" -v b="$peak_gray" -v pa="$page_bw" -v pb="$page_gray" \
    'BEGIN { printf "%-9s  %5d  %7s  %10.0f  %15.0f  %.2f (gray page %.1f MiB)\n", m, n, r, a / 1024, b / 1024, (b - a) * 1024 / (pb - pa), pb / 1048576 }'
done

echo
echo "designed waits: 100 ms after each document's last page; with and without those between the"
echo "first page file and the last, against the time per page of the qrvpage run that followed the batch"
printf '%-9s  %5s  %11s  %13s  %9s  %s\n' mechanism waits "ms per page" "without waits" "qrvpage" "times qrvpage's: with waits, without (goal without: 1.25)   every round's, without"
for mech in native file memory; do
  if [ -z "${waits[$mech]:-}" ]; then continue; fi
  awk -v m="$mech" -v s="${spans[$mech]}" -v qp="${qrvpages[$mech]}" -v waits="${waits[$mech]}" -v all="${ratios[$mech]}" -v intervals=55 'BEGIN {
    with = 1000 * s / intervals; without = 1000 * (s - 0.1 * waits) / intervals
    printf "%-9s  %5d  %11.1f  %13.1f  %9.1f  %.2f, %.2f %-7s   %s\n", m, waits, with, without, qp, with / qp, without / qp,
      (without / qp <= 1.25) ? "met" : "not met", all }'
done

echo
echo "where the time goes, milliseconds per page interval (between two of the application's page"
echo "files), from the black and white batch's file events; the designed wait lies in \"before\" at"
echo "a document's start and is all of an interval without a page built:"
printf '%-9s  %-22s %5s  %7s  %7s  %7s  %7s  %7s  %7s\n' mechanism interval count page before fetch decode "conv+wr" after
for mech in native file memory; do
  [ -n "${splits[$mech]:-}" ] && echo "${splits[$mech]}"
done
printf 'qrvpage    one page as a process: %s ms after the native batch (decode, convert, write, and the process start)\n' \
  "${qrvpages[native]:-n/a}"
