#!/usr/bin/env bash
# Cross-builds the component for Windows, 64-bit (build/windows/x64/) and
# 32-bit (build/windows/x86/), with MinGW-w64: the COM DLL
# Tavlor_QuorvelUnit.dll with its type library, zentrix8-sim.exe, the test
# suite and a C++ COM client.  Under Wine it runs the suite, the component as
# hosts use it (regsvr32, VBScript and JScript suites, the C++ client on the
# embedded simulator and against the Linux simulator, unregistering) and the
# Windows simulator against the Linux tool; then it makes the release folder
# build/windows/release/ (both DLLs, their type libraries, the IDL,
# register.cmd).  32-bit programs run only where Wine's i386 loader is
# installed (wine32:i386) and the kernel runs 32-bit x86 programs; elsewhere
# the script says that they were built, not run.
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

# The Windows simulator under Wine, asked by the Linux quorvel tool (the test
# command's build) over the raw socket and over VXI-11 on loopback.
interop() {
  local dir=$1 linux=build/test/apps/quorvel
  if [ ! -x "$linux" ]; then
    echo "== Windows simulator with the Linux tool: not run (no $linux; bash scripts/test.sh builds it)"
    return 0
  fi
  echo "== Windows simulator under Wine, asked by the Linux quorvel tool"
  local out="$dir/sim.log"
  wine "$dir/apps/zentrix8-sim.exe" --socket-port 0 --vxi11-port 0 --portmapper-port -1 </dev/null >"$out" 2>&1 &
  local sim=$!
  local socket="" vxi=""
  for _ in $(seq 1 100); do
    socket=$(grep -o 'TCPIP::127.0.0.1::[0-9]*::SOCKET' "$out" | head -1 || true)
    vxi=$(grep -o 'TCPIP::127.0.0.1,[0-9]*::inst0::INSTR' "$out" | head -1 || true)
    [ -n "$socket" ] && [ -n "$vxi" ] && break
    sleep 0.2
  done
  local failed=0
  if [ -z "$socket" ] || [ -z "$vxi" ]; then
    echo "the Windows simulator did not start:" >&2
    cat "$out" >&2
    failed=1
  else
    for resource in "$socket" "$vxi"; do
      if "$linux" --address "$resource" --timeout 20 burst-search --sum 2,3 --meas-time 0.02 --json >"$dir/answer.json" 2>&1 &&
        grep -q '"count":2' "$dir/answer.json"; then
        echo "   $resource: burst search answered"
      else
        echo "   $resource: no right answer:" >&2
        cat "$dir/answer.json" >&2
        failed=1
      fi
    done
  fi
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  [ "$failed" = 0 ] || exit 1
}

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
  echo "== Windows $a: the COM component as hosts use it"
  bash tests/windows/component.sh "$dir" build/test/apps/zentrix8-sim
  interop "$dir"
done

# The release folder: what a Windows lab installs.
release=build/windows/release
rm -rf "$release"
mkdir -p "$release"
cp com/win32/Tavlor_QuorvelUnit.idl com/win32/register.cmd "$release/"
for a in "${arches[@]}"; do
  dir="build/windows/$a"
  mkdir -p "$release/$a"
  prefix=$([ "$a" = x64 ] && echo x86_64 || echo i686)
  "$prefix-w64-mingw32-strip" -o "$release/$a/Tavlor_QuorvelUnit.dll" "$dir/Tavlor_QuorvelUnit.dll"
  cp "$dir/com/win32/Tavlor_QuorvelUnit.tlb" "$release/$a/"
done
echo "== Windows release folder: $release"
(cd "$release" && find . -type f | sort | sed 's|^\./|   |')

# register.cmd as a lab runs it, with the x64 client checking the keys.
client=build/windows/x64/tests/quorvel_com_client.exe
if [ -f "$client" ] && [ -f "$release/x64/Tavlor_QuorvelUnit.dll" ]; then
  echo "== Windows release folder: register.cmd and register.cmd /u"
  cmd=$(echo "Z:$PWD/$release/register.cmd" | tr / '\\')
  wine cmd /c "$cmd" </dev/null 2>&1 | tr -d '\r' | sed 's/^/   /'
  wine "$client" --gtest_brief=1 --gtest_filter='Registry.*' </dev/null >"$release.log" 2>&1 ||
    { cat "$release.log" >&2; echo "register.cmd did not register the x64 DLL" >&2; exit 1; }
  wine cmd /c "$cmd" /u </dev/null 2>&1 | tr -d '\r' | sed 's/^/   /'
  wine "$client" --gtest_brief=1 --gtest_filter='Unregistered.*' </dev/null >"$release.log" 2>&1 ||
    { cat "$release.log" >&2; echo "register.cmd /u left keys" >&2; exit 1; }
  echo "   registered and unregistered: the keys were there, then none was left"
fi
