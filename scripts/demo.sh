#!/usr/bin/env bash
# The main job, as far as the data source reaches today: qrvkbx.ds installed in a Wine prefix as
# an installer would install it, and an acquisition from it by twacquire through the project's
# TWAIN manager. Builds what it needs (x64), runs under wine64 (on a private Xvfb display when
# DISPLAY is unset) and ends on its own: message boxes are pressed, the run has a time limit.
# Its exit status is twacquire's: 0 only when the whole TWAIN sequence ran without a failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"
echo "== build"
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target qrvkbx_ds qrvkbxr twain_manager twacquire

# A prefix of its own, so that the demo installs into a clean Windows and leaves the tests'
# prefix alone.
export QRV_WINEPREFIX=${QRV_DEMO_PREFIX:-$root/build/x64/demoprefix}
source "$root/scripts/wine-env.sh"
echo "== Wine prefix $WINEPREFIX"
"$root/scripts/wine-prefix.sh"

# Installed as an installer would: the module, its resource module and its INI file in a folder
# of their own below C:\windows\twain_64.
install="$WINEPREFIX/drive_c/windows/twain_64/qrvkbx"
mkdir -p "$install"
cp build/x64/bin/qrvkbx.ds build/x64/bin/qrvkbxr.dll build/x64/bin/qrvcofig.ini "$install/"
echo "== installed qrvkbx.ds, qrvkbxr.dll, qrvcofig.ini in C:\\windows\\twain_64\\qrvkbx"
source_name=$(sed -n 's/^DriverName=//p' resources/qrvcofig.ini | tr -d '\r')

# The application runs from a folder of its own, with the manager beside it.
app="$root/build/x64/demo"
rm -rf "$app"
mkdir -p "$app"
cp build/x64/tools/twacquire.exe build/x64/tools/TWAINDSM.dll "$app/"
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
