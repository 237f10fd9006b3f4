#!/usr/bin/env bash
# The installer package on a fresh Windows (a new Wine prefix of its own, under the build folder):
# one silent msiexec installs the source, which the project's TWAIN manager then finds and opens
# (the demo's acquisition, the user closing the source's window); msiexec /x
# removes every file and key of ours and leaves the user's saved options; an older package
# followed by this one leaves one product and one copy of the files.
# Usage: check_package_install.sh PACKAGE WXS BIN_FOLDER TOOLS_FOLDER   (QRV_ARCH: x64 or x86)
set -euo pipefail
package=$1
wxs=$2
bin=$3
tools=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/wine-env.sh"
if [ "$QRV_ARCH" = x86 ] && ! qrv_can_run_x86; then
  echo "SKIPPED: $QRV_X86_UNAVAILABLE"
  exit $QRV_SKIP_STATUS
fi
case "$QRV_ARCH" in
  x64) folder=twain_64; manager=TWAINDSM.dll; product='Orvel TWAIN Connector (64-bit)' ;;
  x86) folder=twain_32; manager=TWAIN_32.dll; product='Orvel TWAIN Connector (32-bit)' ;;
esac
files=(qrvkbx.ds qrvkbxr.dll qrvxpmns.dll qrvssearch.exe qrvcofig.ini)

work=$(cd "$(dirname "$package")" && pwd)/install-test
rm -rf "$work"
mkdir -p "$work/app"
export QRV_WINEPREFIX=$work/prefix
source "$root/scripts/wine-env.sh"
if [ -z "${DISPLAY:-}" ]; then
  source "$root/scripts/xvfb.sh"
  start_xvfb
fi
cleanup() {
  "$QRV_WINESERVER" -k 2>/dev/null || true
  [ -n "${QRV_XVFB_PID:-}" ] && stop_xvfb
  true
}
trap cleanup EXIT
started=$(date +%s)
"$root/scripts/wine-prefix.sh"
echo "fresh prefix ready in $(( $(date +%s) - started )) s"
"$QRV_WINESERVER" -p 60

status=0
fail() { echo "FAIL: $*"; status=1; }
# Runs a Windows program; its output goes through a file (helpers Wine starts outlive it).
win() {
  local out; out=$(mktemp)
  set +e
  "$QRV_WINE" "$@" >"$out" 2>&1 </dev/null
  local result=$?
  set -e
  tr -d '\r' <"$out"
  rm -f "$out"
  return $result
}
winpath() { echo "Z:$1" | tr / '\\'; }
installed="$WINEPREFIX/drive_c/windows/$folder/qrvkbx"

check_installed() {   # the files, byte for byte the build's
  local name
  for name in "${files[@]}"; do
    cmp -s "$bin/$name" "$installed/$name" || fail "$1: $name is not installed as built"
  done
  [ "$(ls "$installed" | wc -l)" -eq ${#files[@]} ] || fail "$1: $(ls "$installed" | tr '\n' ' ')in $folder\\qrvkbx"
}
check_removed() {
  if [ -d "$installed" ] && [ -n "$(ls -A "$installed")" ]; then
    fail "$1: left in $folder\\qrvkbx: $(ls -A "$installed" | tr '\n' ' ')"
  fi
  if win reg query 'HKLM\SOFTWARE\Vantrel\Orvel' >/dev/null 2>&1; then
    fail "$1: SOFTWARE\Vantrel\Orvel is left under the local machine"
  fi
}
products() {   # how many installed products carry our name
  rm -f "$work/uninstall.reg"
  win reg export 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "$(winpath "$work/uninstall.reg")" /y \
    >/dev/null 2>&1 || true
  iconv -f UTF-16LE -t UTF-8 "$work/uninstall.reg" 2>/dev/null | tr -d '\r' |
    awk -v p="\"DisplayName\"=\"$product\"" '$0 == p { count++ } END { print count + 0 }'
}

echo "== msiexec /i $(basename "$package") /qn"
started=$(date +%s)
win msiexec /i "$(winpath "$package")" /qn || fail "msiexec /i exited with $?"
echo "installed in $(( $(date +%s) - started )) s"
check_installed "after msiexec /i"
port=$(win reg query 'HKLM\SOFTWARE\Vantrel\Orvel\Common' /v HttpPort 2>/dev/null | awk '/HttpPort/ { print $3 }')
[ "$port" = 80 ] || fail "HttpPort under the local machine is '$port'"
[ "$(products)" = 1 ] || fail "installed products named $product: $(products)"

echo "== twacquire --list through the project's manager"
cp "$tools/twacquire.exe" "$tools/$manager" "$work/app/"
listing=$(cd "$work/app" && QRV_TWAIN_SOURCES= win ./twacquire.exe --list --timeout 30) || fail "twacquire --list exited with $?"
echo "$listing"
echo "$listing" | grep -q '^source [0-9]*: "Orvel TWAIN Connector" by "VANTREL WORKS,LTD."' || fail "the manager does not find the installed source"

echo "== an acquisition from the installed source: opened; no device is set, so it asks for one; the user cancels"
cat >"$work/app/user.txt" <<'SCRIPT'
wait-dialog 1050 20000
sleep 300
click 2
SCRIPT
acquisition=$(cd "$work/app" && QRV_TWAIN_SOURCES= win ./twacquire.exe --source "Orvel TWAIN Connector" --mech native \
  --press-boxes --script user.txt --timeout 40 --out pages) || fail "twacquire exited with $?"
echo "$acquisition" | tail -n 4
echo "$acquisition" | grep -q 'the sequence ran without a failure' || fail "the acquisition from the installed source failed"
echo "$acquisition" | grep -q 'MSG_CLOSEDSREQ' || fail "the installed source did not ask to be closed"

echo "== msiexec /x (the user's saved options stay)"
win reg add 'HKCU\SOFTWARE\Vantrel\Orvel\TWAIN\Sylvane' /v 'SB Mode' /t REG_BINARY /d 00040000 /f >/dev/null
win msiexec /x "$(winpath "$package")" /qn || fail "msiexec /x exited with $?"
check_removed "after msiexec /x"
win reg query 'HKCU\SOFTWARE\Vantrel\Orvel\TWAIN\Sylvane' /v 'SB Mode' >/dev/null 2>&1 ||
  fail "the user's saved options went with the package"
[ "$(products)" = 0 ] || fail "still installed after msiexec /x"

echo "== an older package, then this one"
older="$work/qrvkbx-older.msi"
(cd "$bin" && wixl -a "$QRV_ARCH" -D Arch="$QRV_ARCH" -D Version=0.1.0 -o "$older" "$wxs")
win msiexec /i "$(winpath "$older")" /qn || fail "msiexec /i of the older package exited with $?"
check_installed "after the older package"
win msiexec /i "$(winpath "$package")" /qn || fail "msiexec /i over the older package exited with $?"
check_installed "after the newer package"
[ "$(products)" = 1 ] || fail "products named $product after the upgrade: $(products)"
win msiexec /x "$(winpath "$package")" /qn || fail "msiexec /x after the upgrade exited with $?"
check_removed "after the upgrade and msiexec /x"
[ "$(products)" = 0 ] || fail "a product is left after the upgrade and msiexec /x (the older one was not replaced)"

[ $status -eq 0 ] && echo "install, find, uninstall and upgrade passed"
exit $status
