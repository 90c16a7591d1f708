#!/usr/bin/env bash
# Builds and runs the whole test suite: a normal build, then one with
# AddressSanitizer and UndefinedBehaviorSanitizer, short runs of the fuzzers
# (clang), the Debian packages used from where they install, and the
# Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --test
jobs=$(nproc)

echo "== normal build"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" --output-on-failure

echo "== sanitizer build (address, undefined)"
# The Qt panel is tested in the normal build: Qt's own allocations would read as leaks here.
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BUILD_BENCH=OFF \
  -DQUORVEL_BUILD_PANEL=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan -j "$jobs" --output-on-failure

echo "== fuzzers (short runs; bash scripts/fuzz.sh 3600 for a long one)"
bash scripts/fuzz.sh 10

echo "== Debian packages, installed and used from a scratch root"
bash scripts/package.sh
bash tests/package_test.sh

# The same floors cross-built for Windows (MinGW-w64) and tested under Wine;
# QUORVEL_SKIP_WINDOWS=1 leaves it out when only Linux parts changed.
if [ "${QUORVEL_SKIP_WINDOWS:-0}" = 1 ]; then
  echo "== Windows build: skipped (QUORVEL_SKIP_WINDOWS=1)"
else
  bash scripts/windows.sh
fi
