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
"$QRV_WINE" "$@"
