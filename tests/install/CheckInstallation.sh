#!/usr/bin/env bash
# The installation as a game developer makes it: cmake --install into a clean
# prefix, a published sample, the example games built against the installed
# package (CMake and pkg-config) and run against it, and the tool's account
# of a start-up that fails.
# Usage: CheckInstallation.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$1 source=$2 work=$3
prefix=$work/prefix
folder=$prefix/lib/udra
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work" && mkdir -p "$work/home"
export XDG_CONFIG_HOME=$work/home
cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== the installation folder holds everything the library loads"
for f in libUDRAClient.so libUDRAClient.so.1 ZAV.dll LZMA.DLL UDRAStats.dll UDRAHostApp.exe \
         UDRAConfig.ini UDRAClient.ini UDRAHostApp.ini LogConfig.ini; do
  [ -e "$folder/$f" ] || fail "$folder/$f missing"
done
for f in udra udra-publish udra-qosd; do [ -x "$prefix/bin/$f" ] || fail "bin/$f missing"; done
[ -x "$folder/UDRAHostApp.exe" ] || fail "the host is not executable"
readelf -d "$folder/libUDRAClient.so" | grep -q 'SONAME.*\[libUDRAClient\.so\.1\]' || fail "no versioned SONAME"
[ "$(readlink -f "$folder/libUDRAClient.so")" = "$(readlink -f "$folder/libUDRAClient.so.1")" ] \
  || fail "the plain and the SONAME name are different files"
grep -q '^WriteToLogFile=.*E' "$folder/LogConfig.ini" || fail "LogConfig.ini does not log errors"
grep -q '^;' "$folder/UDRAHostApp.ini" || fail "the INI files carry no comments"
PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --libs UDRAClient | grep -q -- '-lUDRAClient' \
  || fail "pkg-config does not know UDRAClient"

echo "== a second install keeps the operator's settings"
printf '[Stats]\nShow=1\n' > "$folder/UDRAClient.ini"
cmake --install "$build" --prefix "$prefix" >/dev/null
grep -q '^Show=1' "$folder/UDRAClient.ini" || fail "reinstalling replaced UDRAClient.ini"

echo "== without a catalogue the tool says why the start failed"
if "$prefix/bin/udra" init --dir "$folder" --url "file://$work/nowhere" 2>"$work/init.err"; then
  fail "udra init started without FileList.dat"
fi
cat "$work/init.err"
grep -q "missing: $folder/FileList.dat" "$work/init.err" || fail "the missing catalogue is not named"
grep -q "LoadFileList" "$work/init.err" || fail "the logged error line is not shown"
grep -q "cause: the catalogue could not be loaded" "$work/init.err" || fail "no cause given"

echo "== publishing the sample with the installed udra-publish"
"$prefix/bin/udra-publish" "$source/sample/content" "$work/published" --url-folder v1 \
  --package Data/Textures --quiet
cp "$work/published/FileList.dat" "$folder/"
url="file://$work/published"
"$prefix/bin/udra" init --dir "$folder" --url "$url"

echo "== the example games, built against the installed package"
cmake -S "$source/examples" -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
PKG_CONFIG_PATH=$prefix/lib/pkgconfig cmake "$work/examples" >/dev/null
cmake --build "$work/examples" >/dev/null
readelf -d "$work/examples/game/game" | grep -q 'NEEDED.*\[libUDRAClient\.so\.1\]' \
  || fail "the game does not record the SONAME"

echo "== game: start, sync Data, read Data/readme.txt, shut down"
"$work/examples/game/game" "$url" Data Data/readme.txt >"$work/readme.txt"
cmp "$work/readme.txt" "$source/sample/content/Data/readme.txt" || fail "the game read other bytes"
"$prefix/bin/udra" stat Data/Textures/tile0.tex --dir "$folder" --json | grep -q '"inArchive":true' \
  || fail "the game's sync left the package out of the store"

echo "== c-caller: all 29 slots"
"$work/examples/c-caller/c-caller" "$url" Maps/town.map
cmp "$folder/UDRADownload/Maps/town.map" "$source/sample/content/Maps/town.map" || fail "extracted copy differs"

echo "installation: complete, started, examples ran"
