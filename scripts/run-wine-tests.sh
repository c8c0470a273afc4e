#!/usr/bin/env bash
# Runs every Windows test executable of a folder under Wine (a fresh prefix, a
# virtual display for the window tests, the GBK code page).
# Usage: scripts/run-wine-tests.sh FOLDER [32|64]   (32: the i686 build under
# 32-bit Wine, the default; 64: an x86_64 build under wine64)
set -uo pipefail
dir=$1
bits=${2:-32}
case "$bits" in
  32) wine=/usr/lib/wine/wine ;;
  64) wine=/usr/lib/wine/wine64 ;;
  *) echo "usage: $0 FOLDER [32|64]" >&2; exit 2 ;;
esac
[ -x "$wine" ] || { echo "FAILED: $wine is missing (scripts/install-deps.sh installs it)"; exit 1; }
# Wine takes the ANSI code page (936) and the encoding of Unix file names
# (UTF-8) from this locale; without it non-ASCII names cannot be opened.
locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8' \
  || { echo "FAILED: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$(mktemp -d /tmp/udra-wine.XXXXXX)}
# No Mono or Gecko installer, and no debugger on a crash (the test fails instead).
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
status=0
for exe in $(find "$dir" -name 'udra_tests_*.exe' | sort); do
  echo "--- $(basename "$exe") under Wine ($bits-bit)"
  if ! timeout "${UDRA_WINE_TIMEOUT:-900}" xvfb-run -a "$wine" "$exe" --gtest_brief=1; then
    echo "FAILED: $(basename "$exe")"; status=1
  fi
done
WINEPREFIX=$WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
exit $status
