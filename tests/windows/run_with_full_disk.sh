#!/usr/bin/env bash
# Runs the full-disk cases of a Windows test executable: the Wine process gets a file size limit
# of 1 MB of its own (nothing on the machine changes), so every write past 1 MB fails with an
# error as on a full disk. The wineserver must not start under the limit, so it is started first.
#
# usage: run_with_full_disk.sh <test.exe> <gtest filter>
set -euo pipefail
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
exe=$1
filter=$2
source "$scripts/wine-env.sh"
if [ "$QRV_ARCH" = x86 ] && ! qrv_can_run_x86; then
  echo "SKIPPED: $QRV_X86_UNAVAILABLE"
  exit $QRV_SKIP_STATUS
fi
"$scripts/wine-prefix.sh"
if [ -z "${DISPLAY:-}" ]; then
  source "$scripts/xvfb.sh"
  start_xvfb
  trap stop_xvfb EXIT
fi
# A running persistent server is kept; otherwise one that ends a few seconds after its last client.
"$QRV_WINESERVER" -p5 2>/dev/null || true
out=$(mktemp)
set +e
(
  trap '' XFSZ       # a write past the limit fails instead of ending the process
  ulimit -f 1024     # blocks of 1 KB
  exec "$QRV_WINE" "$exe" --gtest_also_run_disabled_tests --gtest_filter="$filter"
) >"$out" 2>&1 </dev/null
status=$?
set -e
cat "$out"
rm -f "$out"
exit $status
