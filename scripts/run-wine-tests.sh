#!/usr/bin/env bash
# Runs every Windows test executable of a folder under Wine (64-bit, a fresh
# prefix, a virtual display for the window tests, the GBK code page).
set -uo pipefail
dir=$1
export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/udra-wine.XXXXXX)}
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8
status=0
for exe in $(find "$dir" -name 'udra_tests_*.exe' | sort); do
  echo "--- $(basename "$exe") under Wine"
  if ! timeout 900 xvfb-run -a /usr/lib/wine/wine64 "$exe" --gtest_brief=1; then
    echo "FAILED: $(basename "$exe")"; status=1
  fi
done
wineserver -k 2>/dev/null || true
exit $status
