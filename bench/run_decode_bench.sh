#!/usr/bin/env bash
# Builds the decode benchmark without sanitizers (build/bench, Release) and prints pages per
# second of the reader against libtiff on the ITU-T test pages. Not part of the test command.
# usage: bench/run_decode_bench.sh [seconds per measurement]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQRV_SANITIZE=OFF > /dev/null
cmake --build "$build" --target decode_bench
"$build/bench/decode_bench" "$build/testdata/documents" "${1:-3}"
