#!/usr/bin/env bash
# Builds and runs every test: the Linux build and the main job, sanitizer
# builds, brief fuzzing, the 32-bit Windows DLL with its export check, and the
# 32-bit Windows tests and the main job under 32-bit Wine.
# Usage: scripts/test.sh [--quick]   (--quick: the Linux build only)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${UDRA_BUILD_ROOT:-$root/build-ci}
jobs=$(nproc)
quick=0; [ "${1:-}" = "--quick" ] && quick=1
failed=0; passed=0
step() { echo; echo "=== $* ==="; }
result() { if [ "$1" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $2"; fi; }

"$root/scripts/install-deps.sh" || { echo "FAILED: installing dependencies"; exit 1; }

step "Linux build and tests"
cmake -S "$root" -B "$out/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUDRA_BUILD_BENCHMARKS=ON >/dev/null \
  && cmake --build "$out/linux" -j "$jobs" \
  && ctest --test-dir "$out/linux" -j "$jobs" --output-on-failure --timeout 600
result $? "Linux tests"

step "The main job"
XDG_CONFIG_HOME="$out/demo-home" "$root/scripts/demo.sh" "$out/demo"
result $? "main job"

if [ "$quick" -eq 0 ]; then
  step "AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S "$root" -B "$out/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUDRA_SANITIZE=address,undefined >/dev/null \
    && cmake --build "$out/asan" -j "$jobs" \
    && ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$out/asan" -j "$jobs" --output-on-failure --timeout 900
  result $? "sanitizer tests"

  step "ThreadSanitizer (threaded code)"
  # The test that kills the host during 2,000 small commits needs several
  # kills before the sync ends; a host slowed down by the sanitizer and
  # restarted after each kill sometimes gets the rest in before the next look.
  # It runs in the two suites above, and host recovery is covered here by the
  # other many-process and timing tests.
  cmake -S "$root" -B "$out/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DUDRA_SANITIZE=thread >/dev/null \
    && cmake --build "$out/tsan" -j "$jobs" \
    && TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$out/tsan" -j "$jobs" --output-on-failure --timeout 900 -L threaded \
      -E '^StoreDamage\.HostKilledDuringManySmallCommits$'
  result $? "ThreadSanitizer tests"

  step "Fuzz targets, briefly"
  UDRA_BUILD_ROOT="$out" "$root/scripts/fuzz.sh" 10
  result $? "fuzz targets"

  # One i686 tree: the shipped DLL (its exports checked) and the tests of the
  # portable code and the Win32 backend, run under 32-bit Wine.
  step "32-bit Windows DLL"
  # The static Windows builds of SQLite, liblzma and libcurl, cached between
  # runs (the script prints their prefix last).
  deps=$("$root/scripts/build-mingw-deps.sh" | tee >(cat >&2) | tail -n 1) \
    && cmake -S "$root" -B "$out/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DUDRA_BUILD_TESTS=ON -DUDRA_BUILD_COMPANIONS=ON -DUDRA_MINGW_DEPS="$deps" >/dev/null \
    && cmake --build "$out/win32" -j "$jobs"
  built=$?
  [ "$built" -eq 0 ] && "$root/scripts/check-dll-exports.sh" "$out/win32/UDRAClient.dll"
  result $? "Windows DLL build and exports"

  step "32-bit Windows tests under Wine"
  [ "$built" -eq 0 ] && "$root/scripts/run-wine-tests.sh" "$out/win32/tests" 32
  result $? "Wine tests"

  # The Windows builds of the library, companions, host and tools together.
  step "The main job under 32-bit Wine"
  [ "$built" -eq 0 ] && "$root/scripts/wine-e2e.sh" "$out/win32"
  result $? "main job under Wine"
fi

echo
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
