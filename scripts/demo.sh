#!/usr/bin/env bash
# The main job, as far as the data source reaches today: qrvkbx.ds installed in a Wine prefix as
# an installer would install it, and an acquisition from it by twacquire through the project's
# TWAIN manager. Builds what it needs (x64, or x86 with --arch x86), runs under Wine of that
# architecture (on a private Xvfb display when DISPLAY is unset) and ends on its own: message
# boxes are pressed, the run has a time limit. Its exit status is twacquire's: 0 only when the
# whole TWAIN sequence ran without a failure.
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
cmake --build --preset "$arch" --target qrvkbx_ds qrvkbxr twain_manager twacquire

# A prefix of its own, so that the demo installs into a clean Windows and leaves the tests'
# prefix alone.
export QRV_WINEPREFIX=${QRV_DEMO_PREFIX:-$root/build/$arch/demoprefix}
source "$root/scripts/wine-env.sh"
echo "== Wine prefix $WINEPREFIX ($WINEARCH)"
"$root/scripts/wine-prefix.sh"

# Installed as an installer would: the module, its resource module and its INI file in a folder
# of their own below C:\windows\twain_32 or twain_64.
install="$WINEPREFIX/drive_c/windows/$system_folder/qrvkbx"
mkdir -p "$install"
cp build/$arch/bin/qrvkbx.ds build/$arch/bin/qrvkbxr.dll build/$arch/bin/qrvcofig.ini "$install/"
echo "== installed qrvkbx.ds, qrvkbxr.dll, qrvcofig.ini in C:\\windows\\$system_folder\\qrvkbx"
source_name=$(sed -n 's/^DriverName=//p' resources/qrvcofig.ini | tr -d '\r')

# The application runs from a folder of its own, with the manager beside it.
app="$root/build/$arch/demo"
rm -rf "$app"
mkdir -p "$app"
cp build/$arch/tools/twacquire.exe "build/$arch/tools/$manager" "$app/"
# The user's part: once the source's window (the one with the tab control 1071) is up, leave it
# by its close box.
cat >"$app/user.txt" <<'SCRIPT'
wait-dialog 1071 20000
echo "the source window is up; the user closes it"
sleep 1500
post 0 0x0010 0 0
wait-gone 10000
SCRIPT

echo "== twacquire --source \"$source_name\" --mech native --press-boxes --script user.txt --timeout 40 --out pages"
cd "$app"
set +e
"$root/scripts/wine-run.sh" ./twacquire.exe --source "$source_name" --mech native --press-boxes \
  --script user.txt --timeout 40 --out pages
status=$?
set -e
echo "== twacquire exit status $status; pages in $app/pages: $(ls pages 2>/dev/null | wc -l)"
exit $status
