#!/usr/bin/env bash
# A long campaign for each fuzz target under ASan and UBSan (the fuzz preset), outside the test
# command: a fixed number of inputs per target, one process each, then the corpus minimised into
# fuzz/corpus/<target> (which the short runs in the test command start from). A crash leaves its
# input in build/fuzz/campaign/<target>/ and the script exits non-zero; a mended one belongs in
# fuzz/regressions/.
# usage: fuzz/run_campaign.sh [inputs per target] [target ...]
#   targets: fax_strip answer_parser jbig_strip tiff_page (all by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-10000000}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fax_strip answer_parser jbig_strip tiff_page)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
seeds=$root/build/fuzz/testdata/seeds
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

status=0
for target in "${targets[@]}"; do
  case $target in
    answer_parser) exe=answer_parser_fuzz; extra=() ;;
    fax_strip) exe=fax_strip_fuzz; extra=() ;;
    jbig_strip) exe=jbig_strip_fuzz; extra=("$seeds/jbg" "$root/fuzz/regressions/jbig_strip") ;;
    tiff_page) exe=tiff_page_fuzz; extra=("$seeds" "$root/fuzz/regressions/tiff_page") ;;
    *) echo "unknown target: $target" >&2; exit 2 ;;
  esac
  work=$root/build/fuzz/campaign/$target
  mkdir -p "$work/corpus" "fuzz/corpus/$target"
  log=$work/campaign.log
  start=$(date +%s)
  if ! (cd "$work" && "$root/build/fuzz/fuzz/$exe" -runs="$runs" -rss_limit_mb=2048 -print_final_stats=1 \
        corpus "$root/fuzz/corpus/$target" "${extra[@]}" >"$log" 2>&1); then
    echo "$target: FINDING — see $log and the crash- file in $work"
    status=1
    continue
  fi
  seconds=$(( $(date +%s) - start ))
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
  # Minimise: keep only inputs that add coverage, into a fresh folder that replaces the kept one.
  rm -rf "$work/minimised" && mkdir "$work/minimised"
  "$root/build/fuzz/fuzz/$exe" -merge=1 "$work/minimised" "$work/corpus" "$root/fuzz/corpus/$target" \
    >"$work/merge.log" 2>&1
  rm -rf "fuzz/corpus/$target" && cp -r "$work/minimised" "fuzz/corpus/$target"
  executed=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
  echo "$target: $executed inputs in ${seconds}s; $(echo "$done_line" | grep -o 'cov: [0-9]* ft: [0-9]* corp: [^ ]*'); kept $(ls "fuzz/corpus/$target" | wc -l) inputs"
done
exit $status
