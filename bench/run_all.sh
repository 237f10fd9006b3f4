#!/usr/bin/env bash
# Every figure the project tracks, each against its reference measured in the same run: the
# decoder against libtiff (several runs, each ratio and their median), the whole page against the
# limit of filling and writing its file and against vips and ImageMagick, the listing of a folder of 10,005 documents through the source window
# against its goal (the median of several listings), and batch acquisition by each transfer
# mechanism (pages per second against qrvpage, peak memory, pages held at the peak), a long day
# of scans in one application process (growth of memory, handles, threads), and qrvbox archiving
# 1,000 documents against curl fetching the same files. The benchmark scripts build what they
# need without sanitizers (build/bench, Release) and the Windows side in build/x64. Not part of
# the test command.
# usage: bench/run_all.sh [decode runs] [seconds per decode measurement] [page rounds] [listing runs]
#                         [soak cycles]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=${1:-3}
seconds=${2:-3}
rounds=${3:-3}
listings=${4:-5}
soak_cycles=${5:-300}

echo "== decode: pages per second against libtiff, $runs runs of ${seconds}s per measurement"
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for run in $(seq "$runs"); do
  "$here/run_decode_bench.sh" "$seconds" | grep -v '^ninja\|^\[' | tee -a "$results" | sed "s/^/run $run: /"
done
echo
printf "%-34s %s\n" "coding" "median ratio (ours / libtiff), goal 2"
for coding in "T.6" "T.4 two-dimensional"; do
  median=$(grep "^$coding (" "$results" | awk '{print $NF}' | sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}')
  verdict=$(awk -v m="$median" 'BEGIN { print (m >= 2) ? "met" : "not met" }')
  printf "%-34s %s  %s\n" "$coding (8 ITU pages)" "$median" "$verdict"
done

echo
echo "== whole page against its limit, vips and ImageMagick"
"$here/run_page_bench.sh" "$rounds"

echo
echo "== listing a folder of 10,005 documents through the source window, $listings listings"
"$here/run_listing_bench.sh" "$listings"

echo
echo "== batch acquisition by transfer mechanism against qrvpage"
"$here/run_acquire_bench.sh"

echo
"$here/run_soak_bench.sh" "$soak_cycles"

echo
echo "== qrvbox archiving 1,000 documents against curl, and listing 10,005"
"$here/run_archive_bench.sh"
