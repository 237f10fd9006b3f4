#!/usr/bin/env bash
# Reads the import and export tables of every shipped binary in a build's bin folder:
# each may import only DLLs that every Windows has, DS_Entry must be exported under exactly that
# name, and the protocol library exports by ordinal only.
# Usage: check-binary-tables.sh <bin folder> <objdump>
set -uo pipefail
bin=$1
objdump=$2
allowed='^(kernel32|user32|gdi32|comctl32|advapi32|crypt32|wininet|shell32|ole32|oleaut32|imm32|version|msvcrt|ws2_32|shlwapi|comdlg32)\.dll$'
status=0
fail() { echo "FAIL: $*"; status=1; }

check_imports() {
  local file=$1 dll
  while read -r dll; do
    echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed" || fail "$(basename "$file") imports $dll"
  done < <("$objdump" -p "$file" | sed -n 's/^\s*DLL Name: //p')
}

exported_names() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p'
}

shipped=(qrvkbx.ds qrvkbxr.dll qrvxpmns.dll qrvssearch.exe qrvbox.exe)
required=(qrvkbx.ds qrvkbxr.dll qrvssearch.exe qrvbox.exe)
for name in "${required[@]}"; do
  [ -f "$bin/$name" ] || fail "$name was not built"
done
for name in "${shipped[@]}"; do
  [ -f "$bin/$name" ] || continue
  check_imports "$bin/$name"
  echo "checked $name: $("$objdump" -p "$bin/$name" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
done

if [ -f "$bin/qrvkbx.ds" ]; then
  names=$(exported_names "$bin/qrvkbx.ds")
  [ "$names" = "DS_Entry" ] || fail "qrvkbx.ds exports [$names], expected exactly DS_Entry"
fi
if [ -f "$bin/qrvxpmns.dll" ]; then
  names=$(exported_names "$bin/qrvxpmns.dll")
  [ -z "$names" ] || fail "qrvxpmns.dll exports names: $names"
fi
if [ -f "$bin/qrvkbxr.dll" ]; then
  "$objdump" -p "$bin/qrvkbxr.dll" | grep -q 'DLL Name' && fail "qrvkbxr.dll imports code"
fi
exit $status
