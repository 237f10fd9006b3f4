#!/usr/bin/env bash
# A batch of 56 pages (seven documents of eight JBIG pages) acquired from the device simulator
# through the real source, the manager and twacquire under Wine, by each mechanism: pages per
# second (from the first page file written to the last) and the peak memory of the acquiring
# process (/usr/bin/time, maximum resident set size of the largest process, which is twacquire
# with the source loaded), and from a second batch in RGB the number of pages held at the peak.
# For comparison, qrvpage (built without sanitizers) writing the same 56 page files alone.
# Uses the x64 build and a Wine prefix of its own (build/x64/benchprefix). Not part of the test
# command.
# usage: bench/run_acquire_bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source bench/wine_bench.sh
cmake --preset native >/dev/null
cmake --build --preset native --target device_simulator device_sample_storage >/dev/null
sample=$root/build/native/tools/device_simulator/sample
# qrvpage without sanitizers, as bench/run_page_bench.sh builds it.
bench_release_build qrvpage
qrvpage=$root/build/bench/tools/page_tool/qrvpage
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
acquire() {
  rm -rf pages; mkdir pages
  "$QRV_WINE" reg delete "HKCU\\SOFTWARE\\Vantrel\\$reg_key\\TWAIN" /f >/dev/null 2>&1 || true
  /usr/bin/time -f %M -o time.txt "$root/scripts/wine-run.sh" ./twacquire.exe --source "$source_name" \
    --mech "$1" --script "user_$2.txt" --timeout 900 --out pages >"run_$1_$2.log" 2>&1 || true
  find pages -name 'page*.bmp' | wc -l
}
peak_kib() { cat time.txt; }

# Pages per second, black and white pages as qrvpage writes them below. Then memory: the same
# batch in RGB, whose pages are 24 times the size; the growth of the peak over the black and
# white batch, divided by the growth of one page, is the number of pages held at once.
declare -A rates
echo "mechanism  pages  pages/s  peak (MiB)  gray peak (MiB)  pages held at the peak"
for mech in native file memory; do
  n=$(acquire "$mech" bw)
  if [ "$n" -lt 2 ]; then echo "$mech: only $n pages (see $work/app/run_${mech}_bw.log)"; continue; fi
  rate_bw=$(rate "$n" pages/page001.bmp "$(printf 'pages/page%03d.bmp' "$n")")
  rates[$mech]=$rate_bw
  peak_bw=$(peak_kib); page_bw=$(stat -c %s pages/page001.bmp)
  n_gray=$(acquire "$mech" gray)
  if [ "$n_gray" -lt 1 ]; then echo "$mech: no gray page (see $work/app/run_${mech}_gray.log)"; continue; fi
  peak_gray=$(peak_kib); page_gray=$(stat -c %s pages/page001.bmp)
  awk -v m="$mech" -v n="$n" -v r="$rate_bw" -v a="$peak_bw" -v b="$peak_gray" -v pa="$page_bw" -v pb="$page_gray" \
    'BEGIN { printf "%-9s  %5d  %7s  %10.0f  %15.0f  %.2f (gray page %.1f MiB)\n", m, n, r, a / 1024, b / 1024, (b - a) * 1024 / (pb - pa), pb / 1048576 }'
done

# qrvpage alone writing the same 56 page files.
mkdir -p "$work/qrvpage"
start=$(date +%s.%N)
for doc in 0 1 2 3 4 5 6; do
  for page in 1 2 3 4 5 6 7 8; do
    "$qrvpage" --convert --pixel-type bw --bmp "$work/qrvpage/p${doc}_$page.bmp" "$sample/documents/00001005.tif" "$page" >/dev/null
  done
done
end=$(date +%s.%N)
qrvpage_rate=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", 56 / (b - a) }')
printf 'qrvpage    %5d  %7s\n' 56 "$qrvpage_rate"
for mech in native file memory; do
  if [ -n "${rates[$mech]:-}" ]; then
    awk -v m="$mech" -v q="$qrvpage_rate" -v r="${rates[$mech]}" \
      'BEGIN { if (r > 0) printf "%-9s  qrvpage is %.2f times as fast\n", m, q / r }'
  fi
done
