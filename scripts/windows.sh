#!/usr/bin/env bash
# Cross-builds the component's floors, the simulator and the test suite for
# Windows, 64-bit (build/windows/x64/) and 32-bit (build/windows/x86/), with
# MinGW-w64, and runs the suite of each under Wine.  The 32-bit suite runs
# only where Wine's i386 loader is installed (wine32:i386) and the kernel runs
# 32-bit x86 programs; elsewhere the script says that it was built, not run.
#
#   bash scripts/windows.sh          # both
#   bash scripts/windows.sh x64      # one
set -euo pipefail
cd "$(dirname "$0")/.."
arches=("$@")
[ ${#arches[@]} -gt 0 ] || arches=(x64 x86)
declare -A toolchain=([x64]=mingw-x86_64 [x86]=mingw-i686)
for a in "${arches[@]}"; do
  [ -n "${toolchain[$a]:-}" ] || { echo "unknown architecture '$a' (x64, x86)" >&2; exit 2; }
done
bash scripts/deps.sh --windows

# A Wine prefix of the build's own, quiet and without a display.
export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the Wine prefix (once)"
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
fi
# Wine's server and services stay up between the suites, started apart from
# this script's output (a service holding a pipe would keep it open).
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k 2>/dev/null || true' EXIT

# From the suite's output: its totals, and whatever failed.
summary='\[(==========|  PASSED  |  FAILED  |  SKIPPED )\]|: Failure|tests passed|tests failed'
for a in "${arches[@]}"; do
  dir="build/windows/$a"
  echo "== Windows $a: build ($dir)"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/${toolchain[$a]}.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DQUORVEL_BUILD_BENCH=OFF -DQUORVEL_BUILD_PANEL=OFF >/dev/null
  cmake --build "$dir" -j "$(nproc)"
  if [ "$a" = x86 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "== Windows $a: built; its tests are NOT run here: this machine runs no 32-bit x86 programs"
    echo "   (Wine's i386 loader, wine32:i386, is missing, or the kernel has no 32-bit x86 support)"
    continue
  fi
  echo "== Windows $a: tests under Wine"
  log="$dir/wine-tests.log"
  status=0
  ctest --test-dir "$dir" --output-on-failure -V </dev/null >"$log" 2>&1 || status=$?
  grep -E "$summary" "$log" || true
  [ "$status" = 0 ] || { echo "Windows $a: the tests under Wine failed (whole output: $log)" >&2; exit 1; }
done
