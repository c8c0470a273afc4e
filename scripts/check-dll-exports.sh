#!/usr/bin/env bash
# Checks that a Windows DLL exports exactly GetResourceManager and
# ReleaseResourceManager, undecorated.
set -euo pipefail
dll=$1
exports=$(i686-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | awk '/\[/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ')
echo "exports of $(basename "$dll"): $exports"
[ "$exports" = "GetResourceManager ReleaseResourceManager " ] || { echo "unexpected exports"; exit 1; }
echo "imports: $(i686-w64-mingw32-objdump -p "$dll" | awk '/DLL Name/ {print $3}' | tr '\n' ' ')"
if i686-w64-mingw32-objdump -p "$dll" | grep -qiE 'DLL Name: (libstdc|libgcc|libwinpthread)'; then
  echo "the runtime must be linked statically"; exit 1
fi
