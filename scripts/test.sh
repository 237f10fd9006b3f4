#!/usr/bin/env bash
# The project's test command: set-up when needed, build every preset, run every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
start=$(date +%s)

"$root/scripts/setup.sh"

presets=(native x64 x86 fuzz)
for preset in "${presets[@]}"; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

source "$root/scripts/wine-env.sh"
source "$root/scripts/xvfb.sh"
cleanup() {
  "$QRV_WINESERVER" -k 2>/dev/null || true
  stop_xvfb
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb
fi
"$root/scripts/wine-prefix.sh"
# One persistent wineserver for the whole run: each Windows test then starts in a fraction of a
# second. One that is already running for this prefix serves as well.
"$QRV_WINESERVER" -p 2>/dev/null || true

failed=0
for preset in "${presets[@]}"; do
  echo "== test $preset"
  ctest --preset "$preset" -j2 || failed=1
done
echo "== test command took $(( $(date +%s) - start )) s"
exit $failed
