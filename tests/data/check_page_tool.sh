#!/usr/bin/env bash
# qrvpage against the reference pages: its PBM output is jbgtopbm's page, its description says
# what the directory says, and bad requests fail with a message.
# usage: check_page_tool.sh <qrvpage> <documents dir>
set -euo pipefail
tool=$1
docs=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0

raster() {   # the PBM's pixel rows, whatever its header's spacing
  local size width height
  size=$(pamfile -size "$1")
  width=${size% *}
  height=${size#* }
  tail -c $(( (width + 7) / 8 * height )) "$1"
}

expect_page() {   # <document> <page> <reference pbm> <text the description must hold>...
  local document=$1 page=$2 reference=$3
  shift 3
  if ! "$tool" "$document" "$page" "$out/page.pbm" > "$out/description"; then
    echo "FAIL: qrvpage $document $page failed"; failed=1; return
  fi
  if ! cmp -s <(raster "$out/page.pbm") <(raster "$reference"); then
    echo "FAIL: $document page $page differs from $reference"; failed=1
  fi
  for text in "$@"; do
    grep -qxF "$text" "$out/description" || { echo "FAIL: $document page $page: no line '$text'"; cat "$out/description"; failed=1; }
  done
}

expect_page "$docs/t6/ccitt1.tif" 1 "$docs/ref/ccitt1.pbm" "width: 1728" "height: 2376" \
  "resolution: 200 x 200 dpi" "compression: 4" "decode mode: 1 (T.6)" "strips: 65" "rows per strip: 37"
expect_page "$docs/t4_2d/ccitt2.tif" 1 "$docs/ref/ccitt2.pbm" "compression: 3" "decode mode: 3 (T.4 two-dimensional)"
expect_page "$docs/t4_1d/ccitt3.tif" 1 "$docs/ref/ccitt3.pbm" "decode mode: 0 (T.4 one-dimensional)"
expect_page "$docs/jbig_strips/ccitt4.tif" 1 "$docs/ref/ccitt4.pbm" "compression: 9" "decode mode: 2 (JBIG)" "strips: 3"
expect_page "$docs/t6_1700/ccitt5.tif" 1 "$docs/ref/ccitt5_1700.pbm" "width: 1700"
expect_page "$docs/multipage/t6_pages.tif" 3 "$docs/ref/ccitt3.pbm"

# No such page, no such file, and requests it cannot understand.
"$tool" "$docs/t6/ccitt1.tif" 2 > /dev/null 2>&1 && { echo "FAIL: page 2 of a one-page document"; failed=1; }
"$tool" "$docs/missing.tif" 1 > /dev/null 2>&1 && { echo "FAIL: a missing document"; failed=1; }
for args in "" "$docs/t6/ccitt1.tif" "$docs/t6/ccitt1.tif 0" "$docs/t6/ccitt1.tif x"; do
  # shellcheck disable=SC2086
  set +e; "$tool" $args > /dev/null 2>&1; rc=$?; set -e
  [ "$rc" -eq 2 ] || { echo "FAIL: qrvpage $args returned $rc, not 2"; failed=1; }
done
exit $failed
