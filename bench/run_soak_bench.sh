#!/usr/bin/env bash
# A long day of scans in one application process: twacquire acquires the two pages of one
# document from the device simulator through the real source CYCLES times (300 unless given),
# (a) through a manager that loads the source at every open and unloads it at every close, and
# (b) with the source kept loaded across closes and opens (twacquire --keep-loaded). At cycle 10
# and at the end it reports its working set, handles and threads, and the work directories left
# in its temporary folder; the growth from cycle 10 to the end is the figure (goal: under 1 MB,
# and no handle, thread or directory left behind). The pages are written and deleted again as
# the run goes, so the disk holds a few of them at a time. Uses the x64 build and a Wine prefix
# of its own. Not part of the test command.
# usage: bench/run_soak_bench.sh [cycles]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cycles=${1:-300}
source bench/wine_bench.sh
cmake --preset native >/dev/null
cmake --build --preset native --target device_simulator device_sample_storage >/dev/null
sample=$root/build/native/tools/device_simulator/sample
bench_install_source "$root/build/x64/bench_soak"

cp -r "$sample/documents" "$work/storage/"
cp "$sample/storage.xml" "$work/storage/"
bench_start_simulator build/native/tools/device_simulator/device_simulator

# Each cycle: log on as Alice, choose the two-page document, all pages, Download.
cat >"$work/app/cycle.txt" <<'SCRIPT'
wait-dialog 1038 60000
select 1038 0
settext 1036 ""
click 1
wait-dialog 1071 60000
wait-rows 1001 4 30000
sleep 300
click 1020
click-item 1001 2
sleep 800
click 1007
wait-gone 120000
SCRIPT

cd "$work/app"
# One run: the label and twacquire's options for it; prints the two resource lines.
soak() {
  local label=$1
  shift
  rm -rf pages; mkdir pages
  # The pages of finished cycles go as the run goes: only the figures matter here.
  ( while sleep 5; do find pages -name 'page*.bmp' -mmin +0.1 -delete 2>/dev/null || true; done ) &
  local sweeper=$!
  local start end
  start=$(date +%s)
  "$root/scripts/wine-run.sh" ./twacquire.exe --source "$source_name" --mech native --script cycle.txt \
    --cycles "$cycles" --report-resources --timeout $((cycles * 60)) --out pages "$@" >"soak_$label.log" 2>&1 || true
  end=$(date +%s)
  kill "$sweeper" 2>/dev/null || true
  local done_cycles
  done_cycles=$(grep -c 'cycle [0-9]*: 2 page(s)' "soak_$label.log" || true)
  echo "($label) $done_cycles of $cycles cycles with two pages each, $((end - start)) s"
  grep '^resources:' "soak_$label.log" | sed "s/^/($label) /" || echo "($label) no resource report (see $work/app/soak_$label.log)"
  grep '^resources:' "soak_$label.log" | awk -v l="$label" '
    { for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[NR, kv[1]] = kv[2] } }
    END {
      if (NR < 2) exit
      printf "(%s) growth from cycle %s to %s: working set %+.0f KB, handles %+d, threads %+d, work directories %+d\n",
        l, v[1, "cycle"], v[NR, "cycle"], (v[NR, "working_set"] - v[1, "working_set"]) / 1024,
        v[NR, "handles"] - v[1, "handles"], v[NR, "threads"] - v[1, "threads"], v[NR, "temp_dirs"] - v[1, "temp_dirs"]
    }'
}

echo "== a long day: $cycles cycles of two pages in one application process"
soak unloaded
soak kept --keep-loaded
