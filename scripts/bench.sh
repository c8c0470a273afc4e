#!/usr/bin/env bash
# Builds and runs the whole-system benchmarks and prints one table of their
# figures: measurement, system, baseline (measured in the same run), ratio
# (system speed / baseline speed) and aim.
#
#   udra_bench_system  library + pipe + host + HTTP + store on 127.0.0.1
#   udra_bench_wan     the host over an emulated 40 ms / 100 Mbit/s link
#                      (and 1% loss) against curl over HTTP/1.1 and HTTP/2
#
# Usage: scripts/bench.sh [--build DIR] [--runs N]
#   --build DIR  build folder (default build-bench; configured when missing)
#   --runs N     repetitions per measurement (default: each program's own)
# Each program's whole output is kept in DIR/bench-logs/. Takes about 3-4
# minutes on a 2-core machine. Needs nginx and the curl command line
# (scripts/install-deps.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
runs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--runs N]" >&2; exit 2 ;;
  esac
done
programs=(system/udra_bench_system host/udra_bench_wan)

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDRA_BUILD_BENCHMARKS=ON >/dev/null || exit 1
fi
cmake --build "$build" --target udra_bench_system udra_bench_wan || exit 1

logs=$build/bench-logs
mkdir -p "$logs"
status=0
echo "Machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg)"
for program in "${programs[@]}"; do
  name=$(basename "$program")
  echo "running $name (output in $logs/$name.txt)"
  "$build/bench/$program" ${runs:+--runs "$runs"} >"$logs/$name.txt" 2>&1 || {
    echo "FAILED: $name (see $logs/$name.txt)"
    status=1
  }
done

# Each program ends with a "Summary" table whose cells are separated by two
# or more blanks; they are joined into one Markdown table.
echo
echo "| measurement | system | baseline | ratio | aim |"
echo "|---|---|---|---|---|"
for program in "${programs[@]}"; do
  awk '
    /^Summary/ { on = 1; skip = 2; next }
    on && skip > 0 { skip--; next }
    on && /^-+$/ { next }
    on && NF == 0 { on = 0; next }
    on {
      n = split($0, cell, /  +/)
      out = "|"
      for (i = 1; i <= 5; i++) out = out " " (i <= n ? cell[i] : "") " |"
      print out
    }' "$logs/$(basename "$program").txt"
done
exit $status
