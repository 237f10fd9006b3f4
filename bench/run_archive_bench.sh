#!/usr/bin/env bash
# qrvbox archiving a folder of 1,000 documents from the device simulator on loopback (both built
# without sanitizers in build/bench, Release): documents per second and peak memory of
# `qrvbox archive --delete`, against curl fetching the same 1,000 files in one process (the
# transfer alone, with no check, no decoding and no deletion); the same for a folder of 100
# documents, to show that memory does not grow with the folder; and `qrvbox list` of a folder of
# 10,005 documents (as many as a listing holds) beside the source's listing goal (under 0.5 s
# through its window, bench/run_listing_bench.sh). The documents are the simulator's sample Inbox
# (T.4 and T.6 pages, 1 to 4 pages each) in rotation. Not part of the test command.
# usage: bench/run_archive_bench.sh [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
runs=${1:-3}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQRV_SANITIZE=OFF >/dev/null
cmake --build "$build" -j 2 --target qrvbox device_simulator device_sample_storage >/dev/null
qrvbox=$build/tools/qrvbox/qrvbox
simulator=$build/tools/device_simulator/device_simulator
sample=$build/tools/device_simulator/sample
work=$(mktemp -d)
simulator_pid=
finish() {
  rm -f "$work/port"
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

# storage <folder> <documents>: one user, the folder "Bench" of that many documents.
storage() {
  mkdir -p "$1"
  awk -v n="$2" -v docs="$sample/documents" 'BEGIN {
    split("00001000 00001001 00001002 00001003", file, " ")
    split("1 2 1 4", pages, " ")
    print "<storage><user id=\"001\" handle=\"1\" name=\"Bench\" password=\"\"><folder id=\"00000100\" name=\"Bench\">"
    for (i = 0; i < n; ++i) {
      k = i % 4 + 1
      printf "<document id=\"%08X\" subject=\"Fax %05d\" timestamp=\"2024/%02d/%02d %02d:%02d:%02d\" pages=\"%d\" file=\"%s/%s.tif\"/>\n",
        65536 + i, i, 1 + i % 12, 1 + i % 28, i / 3600 % 24, i / 60 % 60, i % 60, pages[k], docs, file[k]
    }
    print "</folder></user></storage>"
  }' >"$1/storage.xml"
}

start_simulator() {   # storage folder
  rm -f "$work/port"
  "$simulator" --storage "$1" --port-file "$work/port" --lifetime 1200 >/dev/null 2>&1 &
  simulator_pid=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
  device=127.0.0.1:$(tr -d '\n' <"$work/port")
}

stop_simulator() {
  rm -f "$work/port"
  wait "$simulator_pid" 2>/dev/null || true
  simulator_pid=
}

# timed <label> <command...>: wall seconds and peak resident kilobytes into $seconds, $peak_kb.
timed() {
  local label=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/$label.out" 2>"$work/$label.err" ||
    { echo "$label failed:"; cat "$work/$label.err"; exit 1; }
  read -r seconds peak_kb <"$work/time"
}

storage "$work/s1000" 1000
storage "$work/s100" 100
storage "$work/s10005" 10005

echo "archive --delete of a folder, qrvbox against curl fetching the same files ($runs runs each)"
printf "%-28s %10s %12s %14s\n" "run" "seconds" "documents/s" "peak memory"
for run in $(seq "$runs"); do
  for size in 1000 100; do
    start_simulator "$work/s$size"
    rm -rf "$work/archive"
    timed "archive$size" "$qrvbox" --device "$device" --user 001 archive Bench --out "$work/archive" --delete
    grep -q "^$size archived, 0 already archived, $size deleted" "$work/archive$size.out" ||
      { echo "the archive run did not archive everything:"; cat "$work/archive$size.out" "$work/archive$size.err"; exit 1; }
    rate=$(awk -v n="$size" -v s="$seconds" 'BEGIN { print n / s }')
    printf "%-28s %10.2f %12.1f %11d KB\n" "qrvbox, $size documents" "$seconds" "$rate" "$peak_kb"
    [ "$size" = 1000 ] && qrvbox_rate=$rate
    stop_simulator
  done
  start_simulator "$work/s1000"
  rm -rf "$work/curl" && mkdir -p "$work/curl"
  awk -v d="$device" -v out="$work/curl" 'BEGIN { for (i = 0; i < 1000; ++i) printf "url = \"http://%s/strage/%08X.tif\"\noutput = \"%s/%08X.tif\"\n", d, 65536 + i, out, 65536 + i }' >"$work/curl.conf"
  timed curl curl -s -f -K "$work/curl.conf"
  curl_rate=$(awk -v s="$seconds" 'BEGIN { print 1000 / s }')
  printf "%-28s %10.2f %12.1f %11d KB\n" "curl, 1000 files" "$seconds" "$curl_rate" "$peak_kb"
  printf "%-28s %10s %12.2f\n" "ratio qrvbox / curl" "" "$(awk -v a="$qrvbox_rate" -v b="$curl_rate" 'BEGIN { print a / b }')"
  stop_simulator
done

echo
echo "listing a folder of 10,005 documents (the logon's two requests included)"
start_simulator "$work/s10005"
for run in $(seq "$runs"); do
  timed list "$qrvbox" --device "$device" --user 001 list Bench
  printf "qrvbox list: %.2f s, %d rows, peak memory %d KB (the source through its window: goal under 0.5 s)\n" \
    "$seconds" "$(($(wc -l <"$work/list.out") - 1))" "$peak_kb"
done
stop_simulator
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
