#!/usr/bin/env bash
# The main job: builds the project, publishes the bundled sample content,
# lays out an installation folder the way a game ships it, points its URL
# root at the published tree through file://, syncs a folder with a package
# and a few files through the real host, reads every file back through the
# library and checks its digest, and shuts down. No server is needed.
# Usage: scripts/demo.sh [WORK_FOLDER]   (default: build-demo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-$root/build-demo}" && cd "${1:-$root/build-demo}" && pwd)
install="$work/install"
published="$work/published"

"$root/scripts/install-deps.sh"
echo "== building"
cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUDRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" -j "$(nproc)" >/dev/null
stage="$work/build/stage"

echo "== publishing sample/content to $published"
rm -rf "$published" "$install"
"$stage/udra-publish" "$root/sample/content" "$published" --url-folder v1 --package Data/Textures

echo "== laying out $install"
mkdir -p "$install"
cp "$stage/libUDRAClient.so" "$stage/ZAV.dll" "$stage/LZMA.DLL" "$stage/UDRAStats.dll" "$stage/UDRAHostApp.exe" \
   "$stage/udra" "$install/"
cp -r "$root/sample/install/." "$install/"
cp "$published/FileList.dat" "$install/"
cat >> "$install/UDRAConfig.ini" <<INI

[VER_1.0.0]
DownloadUrlRoot=file://$published
INI
udra() { "$install/udra" "$@" --dir "$install"; }

echo "== the installation"
udra info

echo "== syncing"
udra sync Data Maps/town.map Maps/empty.map Sound/click.wav

# Reads every file below the content folder $1 back through the library and
# compares its MD5; sets failed=1 on a difference.
failed=0
read_back() {
  while IFS= read -r -d '' file; do
    relative=${file#"$1/"}
    want=$(md5sum < "$file" | cut -d' ' -f1)
    got=$(udra cat "$relative" | md5sum | cut -d' ' -f1) || got="unreadable"
    if [ "$want" = "$got" ]; then echo "ok   $relative"; else echo "BAD  $relative"; failed=1; fi
  done < <(find "$1" -type f -print0 | sort -z)
}

echo "== reading every file back"
read_back "$root/sample/content"

echo "== extracting Data/config.ini"
udra extract Data/config.ini
cmp "$install/UDRADownload/Data/config.ini" "$root/sample/content/Data/config.ini" && echo "ok   extracted copy"

echo "== publishing version 2 beside version 1 (two files changed, one added)"
v2="$work/content-v2"
rm -rf "$v2" && cp -r "$root/sample/content" "$v2"
printf 'version 2 of the readme\n' > "$v2/Data/readme.txt"
head -c 2000 /dev/urandom | base64 > "$v2/Data/Textures/tile1.tex"
printf 'a new map\n' > "$v2/Maps/new.map"
"$stage/udra-publish" "$v2" "$published" --url-folder v2 --package Data/Textures
cp "$published/FileList.dat" "$install/"
echo "== udra verify sees what version 2 changed"
if udra verify; then echo "BAD  verify found nothing stale"; failed=1; fi
echo "== syncing version 2 and reading every file back"
udra sync Data Maps Sound
read_back "$v2"
udra verify Data Maps Sound || failed=1

[ "$failed" -eq 0 ] && echo "main job: both versions synced and read back intact"
exit "$failed"
