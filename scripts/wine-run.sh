#!/usr/bin/env bash
# Runs one Windows program under wine64 in the project's private prefix; the program's exit
# status is the script's. Starts Xvfb when no display is set.
set -euo pipefail
here=$(dirname "$0")
source "$here/wine-env.sh"
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
