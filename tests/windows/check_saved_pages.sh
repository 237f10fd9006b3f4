#!/usr/bin/env bash
# The pages page_file_store_tests saved for file transfers, read by ImageMagick: each must show
# exactly the expected image (a PGM the test wrote, top row first), so a page stored upside down
# or shifted fails here.
#
# usage: check_saved_pages.sh <folder of page_file_store_tests.exe>
set -euo pipefail
folder=$1
source "$(dirname "$0")/../../scripts/wine-env.sh"
if [ "$QRV_ARCH" = x86 ] && ! qrv_can_run_x86; then
  echo "SKIPPED: $QRV_X86_UNAVAILABLE"
  exit $QRV_SKIP_STATUS
fi
for name in saved_bw saved_gray saved_rgb; do
  bmp=$folder/$name.bmp
  expected=$folder/$name.pgm
  [ -f "$bmp" ] && [ -f "$expected" ] || { echo "$name: missing $bmp or $expected"; exit 1; }
  identify "$bmp"
  # Absolute error: the number of pixels that differ.
  differ=$(compare -metric AE "$bmp" "$expected" null: 2>&1 || true)
  if [ "$differ" != "0" ]; then
    echo "$name: $differ pixels differ from the expected image"
    exit 1
  fi
done
echo "saved pages read right side up"
