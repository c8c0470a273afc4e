#!/usr/bin/env bash
# The main job: builds the project, lays out an installation folder the way a
# game ships it and loads the library from it as a game does.
# Usage: scripts/demo.sh [INSTALL_FOLDER]   (default: build-demo/install)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${UDRA_BUILD_ROOT:-$root/build-demo}
install=${1:-$build/install}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUDRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build/linux" -j "$(nproc)"

echo "laying out $install"
mkdir -p "$install"
cp "$build/linux/stage/"* "$install/"
cp -r "$root/sample/install/." "$install/"

"$install/udra" info --dir "$install"
