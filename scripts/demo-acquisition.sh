# Sourced: the demo's acquisition, in one place for scripts/demo.sh and the installer's install
# check. The device simulator with its sample storage on loopback, the user's window script (logs
# on as Alice, chooses two documents of the Inbox, sets gray scale, 200 dpi and all pages, presses
# "&Download"), the pages that script must bring and their comparison with qrvpage's pages.

# The pages in the order they arrive: document id and page. In the Inbox, newest first: row 0
# "ITU pages 5-8 (T.6)" (4 pages), row 2 "ITU pages 2-3 (T.4 2-D)" (2 pages).
demo_expected_pages=("00001003 1" "00001003 2" "00001003 3" "00001003 4" "00001001 1" "00001001 2")
# qrvpage's settings for the options the script sets.
demo_reference_options=(--convert --pixel-type gray --resolution 200)

# demo_start_simulator SIMULATOR SAMPLE FOLDER: the simulator on a free loopback port, its port
# file and log in FOLDER. Sets demo_simulator_pid and demo_port; the caller ends the simulator.
demo_start_simulator() {
  local simulator=$1 sample=$2 folder=$3
  local port_file=$folder/simulator.port
  rm -f "$port_file"
  "$simulator" --storage "$sample" --port-file "$port_file" --lifetime 600 >"$folder/simulator.log" 2>&1 &
  demo_simulator_pid=$!
  for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
  if [ ! -s "$port_file" ]; then
    echo "the device simulator did not start" >&2
    cat "$folder/simulator.log" >&2
    return 1
  fi
  demo_port=$(tr -d '\r\n ' <"$port_file")
}

# demo_write_user_script FILE SCREEN_PNG: the user's part, with a picture of the screen (and the
# list's rectangle in the log) taken just before "&Download".
demo_write_user_script() {
  cat >"$1" <<SCRIPT
wait-dialog 1038 60000
echo "log on as Alice"
select 1038 0
settext 1036 ""
click 1
wait-dialog 1071 60000
sleep 1000
echo "choose two documents"
click-item 1001 0
sleep 1000
click-item 1001 2 ctrl
sleep 500
echo "options: gray scale, 200 dpi, all pages"
click 1014
click 1025
click 1020
sleep 500
list 1001
rect 0
snapshot "$2"
echo "download"
click 1007
wait-gone 180000
SCRIPT
}

# demo_check_pages FOLDER QRVPAGE SAMPLE: every page FOLDER/pages/page001.bmp ... against the
# page bitmap qrvpage makes of the same document page and settings (kept in FOLDER/reference), a
# PNG of each page beside it. Says what it found; returns 0 only when every page arrived, no more,
# and each has the same pixels.
demo_check_pages() {
  local folder=$1 qrvpage=$2 sample=$3
  local ok=0 i document page bmp ref differ received
  mkdir -p "$folder/reference"
  received=$(find "$folder/pages" -name 'page*.bmp' 2>/dev/null | wc -l)
  if [ "$received" -ne "${#demo_expected_pages[@]}" ]; then
    echo "pages: $received received, ${#demo_expected_pages[@]} expected"; ok=1
  fi
  for i in "${!demo_expected_pages[@]}"; do
    read -r document page <<<"${demo_expected_pages[$i]}"
    bmp=$(printf '%s/pages/page%03d.bmp' "$folder" $((i + 1)))
    ref=$folder/reference/${document}_$page
    # The page bitmap file keeps its top row first, so a standard reader needs it turned over.
    "$qrvpage" "${demo_reference_options[@]}" --bmp "$ref.bmp" "$sample/documents/$document.tif" "$page" >/dev/null
    convert "$ref.bmp" -flip "$ref.png"
    if [ ! -f "$bmp" ]; then
      echo "${bmp#"$folder"/}: missing (document $document page $page)"; ok=1; continue
    fi
    convert "$bmp" "${bmp%.bmp}.png"
    differ=$(compare -metric AE "$bmp" "$ref.png" null: 2>&1 || true)
    if [ "$differ" = 0 ]; then
      echo "${bmp#"$folder"/} = document $document page $page: $(identify -format '%wx%h, %[colorspace]' "$bmp"), same pixels as qrvpage"
    else
      echo "${bmp#"$folder"/} = document $document page $page: $differ pixels differ from qrvpage's page"; ok=1
    fi
  done
  return $ok
}
