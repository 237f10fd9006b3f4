#!/usr/bin/env bash
# Reads an installer package's tables with msiinfo, as an administrator's tools would, and checks
# what the package installs where: the six shipped files in <Windows>\twain_32|twain_64\qrvkbx,
# the device port and address under the local machine, the product's name, version and upgrade code.
# Usage: check_package_tables.sh PACKAGE x86|x64 VERSION_INFO_RC
set -uo pipefail
package=$1
arch=$2
version_rc=$3
status=0
fail() { echo "FAIL: $*"; status=1; }
table() { msiinfo export "$package" "$1" | tr -d '\r' | tail -n +4; }

[ -f "$package" ] || { echo "FAIL: no package $package"; exit 1; }
case "$arch" in
  x64) folder=twain_64; bitness=256; template='x64;1033'; name='Orvel TWAIN Connector (64-bit)' ;;
  x86) folder=twain_32; bitness=0; template='Intel;1033'; name='Orvel TWAIN Connector (32-bit)' ;;
  *) echo "FAIL: architecture $arch"; exit 1 ;;
esac

# Folders: qrvkbx below twain_32 or twain_64 below the Windows folder.
directories=$(table Directory)
echo "$directories" | grep -qxP 'INSTALLDIR\tTwainFolder\tqrvkbx' || fail "no qrvkbx folder: $directories"
echo "$directories" | grep -qxP "TwainFolder\tWindowsFolder\t$folder" || fail "qrvkbx is not below $folder: $directories"

# Files: exactly the six, each the key of a component of that folder, 64-bit components on x64.
files=$(table File | cut -f1,2,3 | sort)
components=$(table Component)
expected_files=$(printf '%s\n' qrvbox.exe qrvcofig.ini qrvkbx.ds qrvkbxr.dll qrvssearch.exe qrvxpmns.dll)
[ "$(echo "$files" | cut -f3)" = "$expected_files" ] || fail "files: $(echo "$files" | cut -f3 | tr '\n' ' ')"
while IFS=$'\t' read -r id component file_name; do
  line=$(echo "$components" | awk -F'\t' -v c="$component" '$1 == c')
  [ "$(echo "$line" | cut -f3)" = INSTALLDIR ] || fail "$file_name is not installed in qrvkbx"
  [ "$(echo "$line" | cut -f6)" = "$id" ] || fail "$file_name is not its component's key"
  [ $(( $(echo "$line" | cut -f4) & 256 )) -eq $bitness ] || fail "$file_name: component attributes $(echo "$line" | cut -f4)"
done <<<"$files"
# Real binaries, not placeholders: the data source alone is far bigger than a few bytes.
size=$(table File | awk -F'\t' '$1 == "qrvkbx.ds" { print $4 }')
[ "${size:-0}" -gt 100000 ] || fail "qrvkbx.ds in the package has $size bytes"

# Registry: the machine's defaults under the local machine, nothing for the current user: the
# device port from HTTPPORT, the address from SERVERADDRESS. Neither has a fixed default in the
# Property table (a given value must win over what an installed package wrote); the package finds
# those values where it writes them, in the registry view of its architecture.
registry=$(table Registry | cut -f2-5 | sort)
[ "$registry" = $'2\tSOFTWARE\\Vantrel\\Orvel\\Common\tHttpPort\t[HTTPPORT]\n2\tSOFTWARE\\Vantrel\\Orvel\\Common\tServer Address\t[SERVERADDRESS]' ] ||
  fail "registry: $registry"
properties=$(table Property)
property() { echo "$properties" | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }
[ -z "$(property HTTPPORT)$(property SERVERADDRESS)" ] || fail "fixed defaults: HTTPPORT '$(property HTTPPORT)', SERVERADDRESS '$(property SERVERADDRESS)'"
searches=$(table RegLocator | awk -F'\t' -v b=$((bitness / 256)) '{ print $2 "\t" $3 "\t" $4 "\t" (int($5 / 16) % 2 == b) }' | sort)
[ "$searches" = "$(echo "$registry" | cut -f1-3 | sed 's/$/\t1/')" ] || fail "searches: $(table RegLocator)"

# Product: name, the version of the version information, an upgrade code that a newer package
# finds (the major-upgrade rows of the Upgrade table), installed for the machine.
version=$(sed -n 's/^FILEVERSION *\([0-9]*\),\([0-9]*\),\([0-9]*\),.*/\1.\2.\3/p' "$version_rc")
[ "$(property ProductName)" = "$name" ] || fail "ProductName '$(property ProductName)'"
[ "$(property ProductVersion)" = "$version" ] || fail "ProductVersion '$(property ProductVersion)', expected $version"
[ "$(property Manufacturer)" = "VANTREL WORKS,LTD." ] || fail "Manufacturer '$(property Manufacturer)'"
[ "$(property ALLUSERS)" = 1 ] || fail "not a per-machine package"
upgrade_code=$(property UpgradeCode)
[[ "$upgrade_code" =~ ^\{[0-9A-F-]{36}\}$ ]] || fail "UpgradeCode '$upgrade_code'"
table Upgrade | grep -qP "^\Q$upgrade_code\E\t\t$version\t" || fail "no upgrade of older versions: $(table Upgrade)"
table InstallExecuteSequence | grep -q '^RemoveExistingProducts' || fail "older versions are not removed"
msiinfo suminfo "$package" | grep -qx "Template: $template" || fail "summary: $(msiinfo suminfo "$package" | grep Template)"

[ $status -eq 0 ] && echo "package $package: $arch, version $version, upgrade code $upgrade_code, $(echo "$files" | wc -l) files in $folder\\qrvkbx"
exit $status
