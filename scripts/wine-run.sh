#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's private prefix of its architecture
# (QRV_ARCH, see wine-env.sh); the program's exit status is the script's. Starts Xvfb when no
# display is set. An x86 program on a machine that cannot run 32-bit programs is not run: the
# script says so and exits with the skip status.
set -euo pipefail
here=$(dirname "$0")
source "$here/wine-env.sh"
if [ "$QRV_ARCH" = x86 ] && ! qrv_can_run_x86; then
  echo "SKIPPED: $QRV_X86_UNAVAILABLE"
  exit $QRV_SKIP_STATUS
fi
"$here/wine-prefix.sh"
if [ -z "${DISPLAY:-}" ]; then
  source "$here/xvfb.sh"
  start_xvfb
  trap stop_xvfb EXIT
fi
# Wine starts helper processes (explorer for the desktop, services) on demand and they outlive
# the program while a persistent wineserver runs; they must not inherit the caller's pipes, or
# whoever reads them (CTest) waits for ever. So the output goes through a file.
out=$(mktemp)
set +e
"$QRV_WINE" "$@" >"$out" 2>&1 </dev/null
status=$?
set -e
cat "$out"
rm -f "$out"
exit $status
