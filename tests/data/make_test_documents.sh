#!/usr/bin/env bash
# Test documents from the ITU-T test pages (ccitt1.jbg ... ccitt8.jbg), re-encoded by the
# reference tools: libtiff's T.4 and T.6 coders through pamtotiff and tiffcp, JBIG-KIT's pbmtojbg
# for JBIG strips (put into TIFF files by make_jbig_tiff). jbgtopbm's decode of each page is the
# reference every decoded page is compared with.
#
# usage: make_test_documents.sh <jbigkit examples dir> <out dir> <make_jbig_tiff> [--small]
# --small crops two pages to small pieces: seed inputs for the fuzzers.
set -euo pipefail

examples=$1
out=$2
make_jbig_tiff=$3
small=${4:-}

work=$out/.work
rm -rf "$out"
mkdir -p "$work" "$out/ref" "$out/multipage"
variants=(t4_1d t4_1d_fill t4_2d t4_2d_fill t4_2d_lsb t4_2d_be t6 t6_lsb t6_be t6_rows64
          t6_one_strip t6_1700 jbig jbig_strips jbig_minisblack jbig_nophotometric jbig_layers jbig_t85
          jbig_1700)
for v in "${variants[@]}"; do mkdir -p "$out/$v"; done

if [ "$small" = "--small" ]; then
  pages=(1 2)
else
  pages=(1 2 3 4 5 6 7 8)
fi

tiff() {   # <out.tif> <pnm> <pamtotiff options...>
  local target=$1 source=$2
  shift 2
  pamtotiff "$@" -xresolution 200 -yresolution 200 -resolutionunit inch "$source" > "$target" 2>/dev/null
}

# JBIG strips are coded sequentially (one layer) unless jbg_options says otherwise.
jbg_options=-q
jbig_tiff() {   # <out.tif> <pbm> <rows per strip | -> <photometric | -> [invert]
  local target=$1 source=$2 rows=$3 photometric=$4 invert=${5:-}
  local width height
  read -r width height < <(pamfile -size "$source")
  local plane=$source
  if [ -n "$invert" ]; then
    plane=$work/inverted.pbm
    pnminvert "$source" > "$plane"
  fi
  local strips=()
  if [ "$rows" = "-" ]; then
    pbmtojbg $jbg_options "$plane" "$work/strip0.jbg"
    strips=("$work/strip0.jbg")
  else
    local top=0 n=0
    while [ "$top" -lt "$height" ]; do
      local h=$(( height - top < rows ? height - top : rows ))
      pamcut -top "$top" -height "$h" "$plane" | pbmtojbg $jbg_options - "$work/strip$n.jbg"
      strips+=("$work/strip$n.jbg")
      top=$(( top + h ))
      n=$(( n + 1 ))
    done
  fi
  "$make_jbig_tiff" "$target" "$width" "$height" "$rows" "$photometric" "${strips[@]}"
}

for i in "${pages[@]}"; do
  name=ccitt$i
  page=$out/ref/$name.pbm
  if [ "$small" = "--small" ]; then
    # A piece with text on it, a few strips high.
    jbgtopbm "$examples/$name.jbg" "$work/full.pbm"
    if [ "$i" = 1 ]; then crop=(-left 240 -top 700); else crop=(-left 80 -top 1700); fi
    pamcut "${crop[@]}" -width 160 -height 40 "$work/full.pbm" > "$page"
    rows=16
    narrow_width=150
  else
    jbgtopbm "$examples/$name.jbg" "$page"
    rows=37
    narrow_width=1700
  fi
  height=$(pamfile -size "$page" | cut -d' ' -f2)

  tiff "$out/t6/$name.tif" "$page" -g4 -rowsperstrip "$rows"
  tiff "$out/t6_rows64/$name.tif" "$page" -g4 -rowsperstrip 64
  tiff "$out/t6_one_strip/$name.tif" "$page" -g4 -rowsperstrip "$height"
  tiff "$out/t4_2d/$name.tif" "$page" -g3 -2d -rowsperstrip "$rows"
  tiff "$out/t4_2d_fill/$name.tif" "$page" -g3 -2d -fill -rowsperstrip "$rows"
  # libtiff leaves T4Options out when it is 0, which this reader would take as two-dimensional;
  # tiffcp writes it.
  tiffcp -c g3:1d "$out/t6/$name.tif" "$out/t4_1d/$name.tif"
  tiffcp -c g3:1d:fill "$out/t6/$name.tif" "$out/t4_1d_fill/$name.tif"
  # pamtotiff -lsb2msb mirrors the raster's bytes before coding; tiffcp writes the same page
  # with the bits of every byte reversed.
  tiffcp -f lsb2msb "$out/t6/$name.tif" "$out/t6_lsb/$name.tif"
  tiffcp -f lsb2msb "$out/t4_2d/$name.tif" "$out/t4_2d_lsb/$name.tif"
  tiffcp -B "$out/t6/$name.tif" "$out/t6_be/$name.tif"
  tiffcp -B "$out/t4_2d/$name.tif" "$out/t4_2d_be/$name.tif"

  jbig_tiff "$out/jbig/$name.tif" "$page" - 0
  jbig_tiff "$out/jbig_strips/$name.tif" "$page" $(( (height + 2) / 3 )) 0
  jbig_tiff "$out/jbig_minisblack/$name.tif" "$page" - 1 invert
  jbig_tiff "$out/jbig_nophotometric/$name.tif" "$page" - -
  jbg_options=-f jbig_tiff "$out/jbig_t85/$name.tif" "$page" $(( (height + 2) / 3 )) 0
  if [ "$small" != "--small" ]; then
    # JBIG-KIT's own file: three resolution layers, progressive.
    "$make_jbig_tiff" "$out/jbig_layers/$name.tif" 1728 "$height" - 0 "$examples/$name.jbg"
  else
    jbg_options="-d 2" jbig_tiff "$out/jbig_layers/$name.tif" "$page" - 0
  fi

  # A page narrower than its rows' 32-bit padding.
  narrow=$out/ref/${name}_1700.pbm
  pamcut -width "$narrow_width" "$page" > "$narrow"
  tiff "$out/t6_1700/$name.tif" "$narrow" -g4 -rowsperstrip "$rows"
  jbig_tiff "$out/jbig_1700/$name.tif" "$narrow" $(( (height + 2) / 3 )) 0
done

# Raw JBIG strips for the strip fuzzer: the same pieces in each of JBIG-KIT's codings.
if [ "$small" = "--small" ]; then
  mkdir -p "$out/jbg"
  for i in "${pages[@]}"; do
    n=0
    for options in "-q" "-f" "-d 2" "" "-q -o 0 -p 0" "-q -p 92" "-q -s 4 -r"; do
      # shellcheck disable=SC2086
      pbmtojbg $options "$out/ref/ccitt$i.pbm" "$out/jbg/ccitt${i}_$n.jbg"
      n=$(( n + 1 ))
    done
  done
fi

# Documents of several pages: without PageNumber; with PageNumber counting down (the last
# directory is page 0); with a different compression on each page.
multi=()
for i in "${pages[@]}"; do multi+=("$out/t6/ccitt$i.tif"); done
tiffcp "${multi[@]}" "$out/multipage/t6_pages.tif"
cp "$out/multipage/t6_pages.tif" "$out/multipage/t6_pages_numbered_down.tif"
count=${#pages[@]}
for (( d = 0; d < count; d++ )); do
  tiffset -d "$d" -s 297 $(( count - 1 - d )) "$count" "$out/multipage/t6_pages_numbered_down.tif" >/dev/null
done
tiffcp "$out/t4_1d/ccitt1.tif" "$out/t4_2d/ccitt2.tif" "$out/t6_be/ccitt1.tif" "$out/multipage/mixed.tif"

# Pages for the preview: a landscape page, a page as wide as the fax decoders allow (7296
# pixels), and a page whose compression (LZW) no decoder here knows.
if [ "$small" != "--small" ]; then
  mkdir -p "$out/preview"
  pamflip -r90 "$out/ref/ccitt1.pbm" > "$work/landscape.pbm"
  tiff "$out/preview/landscape.tif" "$work/landscape.pbm" -g4 -rowsperstrip 64
  pnmpad -white -right 5568 "$out/ref/ccitt1.pbm" > "$work/wide.pbm"
  tiff "$out/preview/wide.tif" "$work/wide.pbm" -g4 -rowsperstrip 64
  tiffcp -c lzw "$out/t6/ccitt1.tif" "$out/preview/lzw.tif"
fi

rm -rf "$work"
touch "$out/stamp"
