#!/usr/bin/env bash
# The installer package on a fresh Windows (a new Wine prefix of its own, under the build folder):
# one silent msiexec, given the device's port and address, installs the source; the project's
# TWAIN manager finds it and the demo's whole acquisition runs from it against the device
# simulator on loopback, every page compared with qrvpage's; the installed qrvbox archives the
# Inbox with deletion from the source's device settings; msiexec /x removes every file and
# key of ours and leaves the user's saved options; an older package followed by this one leaves
# one product and one copy of the files, and the machine's port and address unless given anew;
# without properties the port is 80 and the machine has no address.
# Usage: check_package_install.sh PACKAGE WXS BIN_FOLDER TOOLS_FOLDER NATIVE_BUILD_FOLDER
#        (QRV_ARCH: x64 or x86; the native build holds the simulator, its sample storage and qrvpage)
set -euo pipefail
package=$1
wxs=$2
bin=$3
tools=$4
native=$5
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
files=(qrvkbx.ds qrvkbxr.dll qrvxpmns.dll qrvssearch.exe qrvbox.exe qrvcofig.ini)
simulator=$native/tools/device_simulator/device_simulator
sample=$native/tools/device_simulator/sample
qrvpage=$native/tools/page_tool/qrvpage
for needed in "$simulator" "$sample/storage.xml" "$qrvpage"; do
  [ -e "$needed" ] || { echo "FAIL: no $needed (build the native preset's device_simulator, device_sample_storage and qrvpage)"; exit 1; }
done
source "$root/scripts/demo-acquisition.sh"

work=$(cd "$(dirname "$package")" && pwd)/install-test
rm -rf "$work"
mkdir -p "$work/app"
export QRV_WINEPREFIX=$work/prefix
source "$root/scripts/wine-env.sh"
if [ -z "${DISPLAY:-}" ]; then
  source "$root/scripts/xvfb.sh"
  start_xvfb
fi
demo_simulator_pid=
cleanup() {
  [ -n "$demo_simulator_pid" ] && kill "$demo_simulator_pid" 2>/dev/null
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

value() {   # value ROOT NAME: a string value of the "Common" key
  win reg query "$1\\SOFTWARE\\Vantrel\\Orvel\\Common" /v "$2" 2>/dev/null |
    sed -n "s/^ *$2 *REG_SZ *//p"
}

demo_start_simulator "$simulator" "$sample" "$work" || exit 1
echo "== device simulator with its sample storage on 127.0.0.1:$demo_port"

echo "== msiexec /i $(basename "$package") /qn HTTPPORT=$demo_port SERVERADDRESS=127.0.0.1"
started=$(date +%s)
win msiexec /i "$(winpath "$package")" /qn HTTPPORT="$demo_port" SERVERADDRESS=127.0.0.1 || fail "msiexec /i exited with $?"
echo "installed in $(( $(date +%s) - started )) s"
check_installed "after msiexec /i"
[ "$(value HKLM HttpPort)" = "$demo_port" ] || fail "HttpPort under the local machine is '$(value HKLM HttpPort)'"
[ "$(value HKLM 'Server Address')" = 127.0.0.1 ] || fail "Server Address under the local machine is '$(value HKLM 'Server Address')'"
[ -z "$(value HKCU 'Server Address')" ] || fail "the package wrote the user's Server Address"
[ "$(products)" = 1 ] || fail "installed products named $product: $(products)"

echo "== twacquire --list through the project's manager"
cp "$tools/twacquire.exe" "$tools/$manager" "$work/app/"
listing=$(cd "$work/app" && QRV_TWAIN_SOURCES= win ./twacquire.exe --list --timeout 30) || fail "twacquire --list exited with $?"
echo "$listing"
echo "$listing" | grep -q '^source [0-9]*: "Orvel TWAIN Connector" by "VANTREL WORKS,LTD."' || fail "the manager does not find the installed source"

echo "== the demo's acquisition from the installed source: the device from the package's defaults"
demo_write_user_script "$work/app/user.txt" "$work/app/screen.png"
mkdir -p "$work/app/pages"
started=$(date +%s)
acquisition=$(cd "$work/app" && QRV_TWAIN_SOURCES= win ./twacquire.exe --source "Orvel TWAIN Connector" --mech native \
  --press-boxes --script user.txt --timeout 180 --out pages) || fail "twacquire exited with $?"
echo "$acquisition" >"$work/app/twacquire.log"
grep -v '^script: \(row\|rect\|snapshot\)' "$work/app/twacquire.log"
echo "acquired in $(( $(date +%s) - started )) s"
grep -q 'the sequence ran without a failure' "$work/app/twacquire.log" || fail "the acquisition from the installed source failed"
grep -q 'MSG_CLOSEDSREQ' "$work/app/twacquire.log" || fail "the installed source did not ask to be closed"
demo_check_pages "$work/app" "$qrvpage" "$sample" || fail "the pages from the installed source are not qrvpage's"
# The source took the machine's address as this user's own.
[ "$(value HKCU 'Server Address')" = 127.0.0.1 ] || fail "the user's Server Address is '$(value HKCU 'Server Address')'"

echo "== the installed qrvbox moves the Inbox into a folder: the device from the source's settings"
mkdir -p "$work/archive"
archived=$(win "$(winpath "$installed/qrvbox.exe")" --user 001 archive Inbox --out "$(winpath "$work/archive")" --delete) ||
  fail "qrvbox archive exited with $?"
echo "$archived"
for id in 00001000 00001001 00001002 00001003; do
  found=$(ls "$work/archive" | grep "_$id.tif\$" || true)
  cmp -s "$sample/documents/$id.tif" "$work/archive/$found" || fail "document $id is not archived as the device sent it"
done
remaining=$(win "$(winpath "$installed/qrvbox.exe")" --user 001 list Inbox --json) || fail "qrvbox list exited with $?"
[ "$remaining" = "[]" ] || fail "the Inbox still holds: $remaining"

echo "== msiexec /x (the user's address and saved options stay)"
win reg add 'HKCU\SOFTWARE\Vantrel\Orvel\TWAIN\Sylvane' /v 'SB Mode' /t REG_BINARY /d 00040000 /f >/dev/null
win msiexec /x "$(winpath "$package")" /qn || fail "msiexec /x exited with $?"
check_removed "after msiexec /x"
win reg query 'HKCU\SOFTWARE\Vantrel\Orvel\TWAIN\Sylvane' /v 'SB Mode' >/dev/null 2>&1 ||
  fail "the user's saved options went with the package"
[ "$(value HKCU 'Server Address')" = 127.0.0.1 ] || fail "the user's Server Address went with the package"
[ "$(products)" = 0 ] || fail "still installed after msiexec /x"

# One upgrade only: under Wine a product that replaced an older one is no longer found by its
# upgrade code, so a second upgrade would leave two products.
echo "== an older package, then this one: one copy; a property given wins, one not given is kept"
older="$work/qrvkbx-older.msi"
(cd "$bin" && wixl -a "$QRV_ARCH" -D Arch="$QRV_ARCH" -D Version=0.1.0 -o "$older" "$wxs")
win msiexec /i "$(winpath "$older")" /qn HTTPPORT=8080 SERVERADDRESS=127.0.0.2 || fail "msiexec /i of the older package exited with $?"
check_installed "after the older package"
win msiexec /i "$(winpath "$package")" /qn SERVERADDRESS=127.0.0.3 || fail "msiexec /i over the older package exited with $?"
check_installed "after the newer package"
[ "$(products)" = 1 ] || fail "products named $product after the upgrade: $(products)"
[ "$(value HKLM HttpPort)" = 8080 ] || fail "the installed port was not kept: '$(value HKLM HttpPort)'"
[ "$(value HKLM 'Server Address')" = 127.0.0.3 ] || fail "the address given did not replace the installed one: '$(value HKLM 'Server Address')'"
win msiexec /x "$(winpath "$package")" /qn || fail "msiexec /x after the upgrade exited with $?"
check_removed "after the upgrade and msiexec /x"
[ "$(products)" = 0 ] || fail "a product is left after the upgrade and msiexec /x (the older one was not replaced)"

echo "== this package without properties: port 80, no address for the machine"
win msiexec /i "$(winpath "$package")" /qn || fail "msiexec /i without properties exited with $?"
[ "$(value HKLM HttpPort)" = 80 ] || fail "HttpPort without HTTPPORT is '$(value HKLM HttpPort)'"
if win reg query 'HKLM\SOFTWARE\Vantrel\Orvel\Common' /v 'Server Address' >/dev/null 2>&1; then
  fail "Server Address is written without SERVERADDRESS"
fi
win msiexec /x "$(winpath "$package")" /qn || fail "msiexec /x exited with $?"
check_removed "after the install without properties and msiexec /x"

[ $status -eq 0 ] && echo "install, acquisition, uninstall and upgrade passed"
exit $status
