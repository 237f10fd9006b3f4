#!/usr/bin/env bash
# The main job: an application acquires real pages from the data source. qrvkbx.ds is installed
# in a Wine prefix as an installer would install it; the device simulator serves its sample
# storage on loopback; twacquire opens the source through the project's TWAIN manager, and a
# window script works the source window as a person would: logs on as Alice, chooses two
# documents, sets the options (gray scale, 200 dpi, all pages) and presses "&Download". The pages
# arrive by native transfer and are left as image files, with a contact sheet of all pages and a
# picture of the source window. Builds what it needs (x64, or x86 with --arch x86, and the native
# simulator and page tool), runs under Wine of that architecture (on a private Xvfb display when
# DISPLAY is unset) and ends on its own. Exit status 0 only when every page arrived and is, pixel
# for pixel, the page that qrvpage makes of the same document page with the same settings.
#
# usage: demo.sh [--arch x64|x86]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

arch=x64
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=${2:-}; shift 2 || { echo "--arch needs x64 or x86" >&2; exit 2; } ;;
    *) echo "usage: demo.sh [--arch x64|x86]" >&2; exit 2 ;;
  esac
done
case "$arch" in
  x64) system_folder=twain_64; manager=TWAINDSM.dll ;;
  x86) system_folder=twain_32; manager=TWAIN_32.dll ;;
  *) echo "--arch takes x64 or x86, not '$arch'" >&2; exit 2 ;;
esac
export QRV_ARCH=$arch

"$root/scripts/setup.sh"
source "$root/scripts/wine-env.sh"
if [ "$arch" = x86 ] && ! qrv_can_run_x86; then
  echo "demo: $QRV_X86_UNAVAILABLE; the x86 demo cannot run here" >&2
  exit 1
fi
echo "== build $arch"
cmake --preset "$arch" >/dev/null
cmake --build --preset "$arch" --target qrvkbx_ds qrvkbxr qrvxpmns twain_manager twacquire
echo "== build native: the device simulator, its sample storage, qrvpage"
cmake --preset native >/dev/null
cmake --build --preset native --target device_simulator device_sample_storage qrvpage
simulator=$root/build/native/tools/device_simulator/device_simulator
sample=$root/build/native/tools/device_simulator/sample
qrvpage=$root/build/native/tools/page_tool/qrvpage

# A prefix of its own, so that the demo installs into a clean Windows and leaves the tests'
# prefix alone.
export QRV_WINEPREFIX=${QRV_DEMO_PREFIX:-$root/build/$arch/demoprefix}
source "$root/scripts/wine-env.sh"
echo "== Wine prefix $WINEPREFIX ($WINEARCH)"
# Wine's desktop process lives as long as the prefix's server and keeps the display it started
# on: the display comes first, and the demo's server goes with the demo.
if [ -z "${DISPLAY:-}" ]; then
  source "$root/scripts/xvfb.sh"
  start_xvfb
fi
"$QRV_WINESERVER" -k 2>/dev/null || true
"$root/scripts/wine-prefix.sh"

# Installed as an installer would: the module, its resource module, the protocol library and
# the INI file in a folder of their own below C:\windows\twain_32 or twain_64.
install="$WINEPREFIX/drive_c/windows/$system_folder/qrvkbx"
mkdir -p "$install"
cp build/$arch/bin/qrvkbx.ds build/$arch/bin/qrvkbxr.dll build/$arch/bin/qrvxpmns.dll \
  build/$arch/bin/qrvcofig.ini "$install/"
echo "== installed qrvkbx.ds, qrvkbxr.dll, qrvxpmns.dll, qrvcofig.ini in C:\\windows\\$system_folder\\qrvkbx"
source_name=$(sed -n 's/^DriverName=//p' resources/qrvcofig.ini | tr -d '\r')
reg_key=$(sed -n 's/^RegKey=//p' resources/qrvcofig.ini | tr -d '\r')

# The application runs from a folder of its own, with the manager beside it.
app="$root/build/$arch/demo"
rm -rf "$app"
mkdir -p "$app/pages"
cp build/$arch/tools/twacquire.exe "build/$arch/tools/$manager" "$app/"

# The device: the simulator on a free loopback port, ended when the demo ends.
source "$root/scripts/demo-acquisition.sh"
demo_simulator_pid=
finish() {
  [ -n "$demo_simulator_pid" ] && kill "$demo_simulator_pid" 2>/dev/null
  "$QRV_WINESERVER" -k 2>/dev/null || true
  if declare -F stop_xvfb >/dev/null; then stop_xvfb; fi
}
trap finish EXIT
demo_start_simulator "$simulator" "$sample" "$app" || exit 1
port=$demo_port
echo "== device simulator with its sample storage on 127.0.0.1:$port"

# Where the source finds the device, as its settings dialog would store it; no saved logon, so
# the user logs on in the window.
"$QRV_WINE" reg add "HKCU\\SOFTWARE\\Vantrel\\$reg_key\\Common" /v "Server Address" /d 127.0.0.1 /f >/dev/null 2>&1
"$QRV_WINE" reg add "HKLM\\SOFTWARE\\Vantrel\\$reg_key\\Common" /v HttpPort /d "$port" /f >/dev/null 2>&1
"$QRV_WINE" reg delete "HKCU\\SOFTWARE\\Vantrel\\$reg_key\\TWAIN" /f >/dev/null 2>&1 || true

# The user's part: logs on, chooses two documents, sets the options, presses "&Download".
demo_write_user_script "$app/user.txt" "$app/screen.png"

echo "== twacquire --source \"$source_name\" --mech native --script user.txt --timeout 180 --out pages"
cd "$app"
set +e
"$root/scripts/wine-run.sh" ./twacquire.exe --source "$source_name" --mech native --press-boxes \
  --script user.txt --timeout 180 --out pages | tee twacquire.log
status=${PIPESTATUS[0]}
set -e
echo "== twacquire exit status $status"

# The source window as the user saw it before "&Download": its client area cut from the screen.
rect=$(sed -n 's/^script: rect 0 \([-0-9]*\),\([-0-9]*\),\([-0-9]*\),\([-0-9]*\)\r*$/\1 \2 \3 \4/p' twacquire.log | tail -1)
if [ -n "$rect" ] && [ -f screen.png ]; then
  read -r left top right bottom <<<"$rect"
  convert screen.png -crop "$((right - left))x$((bottom - top))+$left+$top" +repage source_window.png
fi

# Every page against qrvpage's page bitmap of the same page and settings.
ok=1
demo_check_pages "$app" "$qrvpage" "$sample" || ok=0
if ls pages/page*.png >/dev/null 2>&1; then
  montage pages/page*.png -tile 3x -geometry 300x+10+10 -background white contact_sheet.png
fi
echo "== pages (BMP as received, PNG beside them): $app/pages"
echo "== contact sheet: $app/contact_sheet.png"
echo "== source window: $app/source_window.png"
if [ "$status" -ne 0 ] || [ "$ok" -ne 1 ]; then
  echo "== demo failed"
  exit 1
fi
echo "== every page arrived and matches qrvpage"
