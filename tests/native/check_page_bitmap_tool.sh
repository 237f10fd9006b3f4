#!/usr/bin/env bash
# qrvpage --bmp: the page bitmap files it writes, read by Netpbm's BMP reader and turned right
# side up, against the reference decode of the ITU-T pages, scaled, cut or padded by Netpbm where
# that is exact; headers byte by byte; refused settings. (Netpbm, not ImageMagick: these pages
# have up to 16 million pixels, which ImageMagick takes seconds for.)
# usage: check_page_bitmap_tool.sh <qrvpage> <documents dir>
set -euo pipefail
tool=$1
docs=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

build() {   # <out.bmp> <qrvpage arguments>...
  local bmp=$1
  shift
  "$tool" "$@" --bmp "$bmp" > "$out/description" || { fail "qrvpage $* failed"; return 1; }
}

field() {   # <file> <offset> <bytes>: a little-endian header field
  od -An -t "u$3" -j "$2" -N "$3" "$1" | tr -d ' '
}

same_image() {   # <page bitmap file> <expected PNM image> <what>
  bmptopnm "$1" 2>/dev/null | pamflip -tb > "$out/upright.pnm"
  cmp -s "$out/upright.pnm" "$2" || fail "$3: not the expected image"
}

# The reference pages as Netpbm writes them (the reference decoder spaces its header otherwise).
pamtopnm "$docs/ref/ccitt1.pbm" > "$out/ref1.pbm"
ref1=$out/ref1.pbm

# As decoded: 1728 x 2376, stride 216, offset 62.
build "$out/decoded.bmp" "$docs/t6/ccitt1.tif" 1 && {
  [ "$(stat -c %s "$out/decoded.bmp")" = $(( 62 + 216 * 2376 )) ] || fail "decoded file size"
  [ "$(field "$out/decoded.bmp" 10 4)" = 62 ] || fail "decoded pixel offset"
  [ "$(field "$out/decoded.bmp" 38 4)" = 7874 ] || fail "decoded pixels per metre"
  same_image "$out/decoded.bmp" "$ref1" "decoded page"
}
# "No change" in black and white is the decoded page, byte for byte.
build "$out/nochange.bmp" --convert "$docs/t6/ccitt1.tif" 1 &&
  { cmp -s "$out/decoded.bmp" "$out/nochange.bmp" || fail "no change differs from the decoded page"; }

# 400 dpi: every pixel becomes two by two.
build "$out/400.bmp" --convert --resolution 400 "$docs/t6/ccitt1.tif" 1 && {
  [ "$(field "$out/400.bmp" 18 4)x$(field "$out/400.bmp" 22 4)" = 3456x4752 ] || fail "400 dpi size"
  [ "$(field "$out/400.bmp" 38 4)" = 15748 ] || fail "400 dpi pixels per metre"
  pamenlarge 2 "$ref1" > "$out/ref400.pbm"
  same_image "$out/400.bmp" "$out/ref400.pbm" "400 dpi page"
}

# Gray at the page's resolution: black and white levels only, offset 1078.
build "$out/gray.bmp" --convert --pixel-type gray "$docs/t4_2d/ccitt2.tif" 1 && {
  [ "$(field "$out/gray.bmp" 10 4)" = 1078 ] || fail "gray pixel offset"
  [ "$(field "$out/gray.bmp" 28 2)" = 8 ] || fail "gray bit count"
  pamdepth 255 "$docs/ref/ccitt2.pbm" > "$out/ref2.pgm" 2>/dev/null
  same_image "$out/gray.bmp" "$out/ref2.pgm" "gray page"
}

# A4 at 200 dpi: 1652 x 2336, the right part and the bottom rows of the page cut off.
build "$out/a4.bmp" --convert --paper 826x1168 "$docs/t6/ccitt1.tif" 1 && {
  pamcut -left 0 -top 0 -width 1652 -height 2336 "$ref1" > "$out/refa4.pbm"
  same_image "$out/a4.bmp" "$out/refa4.pbm" "A4 page"
}
# A4 at 400 dpi: 3304 x 4672 of the page scaled to 3456 x 4752.
build "$out/a4_400.bmp" --convert --resolution 400 --paper 826x1168 "$docs/t6/ccitt3.tif" 1 && {
  pamenlarge 2 "$docs/ref/ccitt3.pbm" | pamcut -left 0 -top 0 -width 3304 -height 4672 > "$out/refa4_400.pbm"
  same_image "$out/a4_400.bmp" "$out/refa4_400.pbm" "A4 page at 400 dpi"
}
# A page narrower and shorter than the paper: white margins at the right and the bottom.
build "$out/margins.bmp" --convert --paper 900x1400 "$docs/t6_1700/ccitt3.tif" 1 && {
  pnmpad -white -right 100 -bottom 424 "$docs/ref/ccitt3_1700.pbm" > "$out/refmargins.pbm"
  same_image "$out/margins.bmp" "$out/refmargins.pbm" "page with margins"
}

# 300 dpi RGB on Letter: the top-left 1700 x 2200 of the page scaled by 1.5 to 2550 x 3300.
# Area averaging keeps the page's mean level; all three channels are the gray level.
build "$out/rgb.bmp" --convert --resolution 300 --pixel-type rgb --paper 850x1100 "$docs/t6/ccitt4.tif" 1 && {
  [ "$(field "$out/rgb.bmp" 10 4)" = 54 ] || fail "RGB pixel offset"
  [ "$(field "$out/rgb.bmp" 34 4)" = $(( 7652 * 3300 )) ] || fail "RGB image size"
  bmptopnm "$out/rgb.bmp" 2>/dev/null > "$out/rgb.ppm"
  for c in 0 1 2; do pamchannel -tupletype GRAYSCALE -infile "$out/rgb.ppm" $c | pamtopnm > "$out/channel_$c.pgm"; done
  { [ -s "$out/channel_0.pgm" ] && cmp -s "$out/channel_0.pgm" "$out/channel_1.pgm" &&
    cmp -s "$out/channel_1.pgm" "$out/channel_2.pgm"; } || fail "RGB channels differ"
  mean=$(pamsumm -mean -normalize -brief "$out/channel_0.pgm")
  expected=$(pamcut -left 0 -top 0 -width 1700 -height 2200 "$docs/ref/ccitt4.pbm" | pamsumm -mean -normalize -brief)
  awk -v a="$mean" -v b="$expected" 'BEGIN { d = a - b; exit !(d < 0.002 && d > -0.002) }' ||
    fail "RGB mean level $mean, page $expected"
}

# Refusals: nothing is written.
expect_refused() {   # <exit status> <arguments>...
  local want=$1
  shift
  set +e
  "$tool" "$@" > /dev/null 2>&1
  local rc=$?
  set -e
  [ "$rc" = "$want" ] || fail "qrvpage $* returned $rc, not $want"
  [ ! -e "$out/refused.bmp" ] || { fail "qrvpage $* left a file"; rm -f "$out/refused.bmp"; }
}
page=("$docs/t6/ccitt1.tif" 1)
expect_refused 2 --convert "${page[@]}"
expect_refused 2 --resolution 300 --bmp "$out/refused.bmp" "${page[@]}"
expect_refused 2 --convert --pixel-type cmyk --bmp "$out/refused.bmp" "${page[@]}"
expect_refused 2 --convert --paper 826 --bmp "$out/refused.bmp" "${page[@]}"
expect_refused 1 --convert --paper 0x1168 --bmp "$out/refused.bmp" "${page[@]}"
expect_refused 1 --convert --resolution 32767 --pixel-type rgb --bmp "$out/refused.bmp" "${page[@]}"
expect_refused 1 --bmp "$out/missing/refused.bmp" "${page[@]}"
exit $failed
