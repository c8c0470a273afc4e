#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each briefly.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 15)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${UDRA_BUILD_ROOT:-$root/build-ci}/fuzz
seconds=${1:-15}
CC=clang CXX=clang++ cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUDRA_BUILD_FUZZERS=ON -DUDRA_BUILD_TESTS=OFF -DUDRA_BUILD_COMPANIONS=OFF >/dev/null || exit 1
targets=$(ninja -C "$out" -t targets all | grep -o '^udra_fuzz_[A-Za-z_]*' | sort -u)
[ -n "$targets" ] || { echo "no fuzz targets"; exit 1; }
# shellcheck disable=SC2086
cmake --build "$out" -j "$(nproc)" --target $targets || exit 1
status=0
for t in $targets; do
  exe=$(find "$out" -type f -name "$t" -perm -u+x | head -1)
  corpus="$out/corpus/$t"; mkdir -p "$corpus"
  echo "--- $t for ${seconds}s"
  if ! "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" >"$out/$t.log" 2>&1; then
    echo "FAILED: $t"; tail -40 "$out/$t.log"; status=1
  else
    grep -E '^Done|#[0-9]+.*DONE' "$out/$t.log" | tail -1
  fi
done
exit $status
