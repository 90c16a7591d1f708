#!/usr/bin/env bash
# The Windows component as its hosts use it, under Wine (scripts/windows.sh
# sets up the prefix): registered with regsvr32; driven by the VBScript and
# JScript suites (Wine's own cscript) and by the C++ client on the embedded
# simulator; then by the C++ client against the Linux zentrix8-sim over
# VXI-11 and the raw socket, in a network namespace of its own; at last
# unregistered, with no key left.
#
#   tests/windows/component.sh BUILD_DIR [LINUX_ZENTRIX8_SIM]
set -euo pipefail
dir=$(cd "$1" && pwd)
linuxsim=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
fail() { echo "component: $*" >&2; exit 1; }
client="$dir/tests/quorvel_com_client.exe"
work="$dir/component-test"

# The host's configuration: one device; an address, or none for the embedded simulator.
configure() {
  printf '[Host]\nDataFolder = %s\n[Zentrix8]\nInterface = 60\nAddress = %s\nTimeout = 5000\n' \
    "$(winpath "$work")" "$1" >"$work/quorvel.ini"
}

if [ "${IN_NAMESPACE:-}" = 1 ]; then
  # Wine's sockets belong to its server: a server of this namespace's own,
  # its services started apart from this script's output.
  ip link set lo up
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1 || true
  trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
  "$linuxsim" --socket-port 0 --vxi11-port 0 --portmapper-port -1 </dev/null >"$work/sim.log" 2>&1 &
  sim=$!
  socket="" vxi=""
  for _ in $(seq 100); do
    socket=$(grep -o 'TCPIP::127.0.0.1::[0-9]*::SOCKET' "$work/sim.log" | head -1 || true)
    vxi=$(grep -o 'TCPIP::127.0.0.1,[0-9]*::inst0::INSTR' "$work/sim.log" | head -1 || true)
    [ -n "$socket" ] && [ -n "$vxi" ] && break
    sleep 0.1
  done
  [ -n "$socket" ] && [ -n "$vxi" ] || { cat "$work/sim.log" >&2; fail "zentrix8-sim did not start"; }
  for resource in "$socket" "$vxi"; do
    configure "$resource"
    echo "   C++ client, unit on Linux at $resource"
    QUORVEL_EXPECT_ADDRESS=$resource timeout 300 wine "$client" --gtest_brief=1 \
      --gtest_filter='Component.RunsTheMainJobEarlyBound:Component.FillsArraysByReferenceAsVbPassesThem:Component.OneObjectFromTwoThreadsNeverMixesAnswers' </dev/null ||
      fail "the C++ client failed against $resource"
  done
  exit 0
fi

rm -rf "$work"
mkdir -p "$work"
configure ""
export QUORVEL_CONFIG
QUORVEL_CONFIG=$(winpath "$work/quorvel.ini")
dll=$(winpath "$dir/Tavlor_QuorvelUnit.dll")
timeout 120 wine regsvr32 /s "$dll" </dev/null || fail "regsvr32 did not register $dll"
echo "   registered $dll"

# Each suite prints "N passed, M failed"; cscript's own status says nothing
# (it is 0 after a syntax or run-time error), so a suite without that line,
# or with fewer checks than the "checks: N" it plans, fails.
for suite in Component.vbs Component.js; do
  planned=$(grep -oE 'checks: [0-9]+' "$here/$suite" | head -1 | grep -oE '[0-9]+')
  out=$(timeout 300 wine cscript //nologo "$(winpath "$here/$suite")" </dev/null 2>&1 | tr -d '\r' || true)
  line=$(echo "$out" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -1 || true)
  if [ -z "$line" ]; then
    echo "$out" >&2
    fail "$suite printed no summary: a syntax or run-time error stops Wine's cscript without a word"
  fi
  read -r passed _ failed _ <<<"$line"
  echo "   $suite: $line ($planned planned)"
  if [ "$failed" != 0 ] || [ "$passed" != "$planned" ]; then
    echo "$out" >&2
    fail "$suite: $line, $planned planned"
  fi
done

echo "   C++ client, embedded simulator"
timeout 300 wine "$client" --gtest_brief=1 --gtest_filter='-Unregistered.*' </dev/null || fail "the C++ client failed"

if [ ! -x "$linuxsim" ]; then
  echo "   C++ client against zentrix8-sim on Linux: not run (no Linux build; bash scripts/test.sh makes one)"
elif ! unshare --net true 2>/dev/null; then
  echo "   C++ client against zentrix8-sim on Linux: not run (no network namespaces here: needs root)"
else
  wineserver -k 2>/dev/null || true
  IN_NAMESPACE=1 QUORVEL_CONFIG="$QUORVEL_CONFIG" unshare --net bash "$0" "$dir" "$linuxsim"
  wineserver -p </dev/null >/dev/null 2>&1 || true
  wineboot </dev/null >/dev/null 2>&1 || true
fi

timeout 120 wine regsvr32 /s /u "$dll" </dev/null || fail "regsvr32 /u did not unregister $dll"
timeout 120 wine "$client" --gtest_brief=1 --gtest_filter='Unregistered.*' </dev/null || fail "keys are left after unregistering"
echo "   unregistered: no key left"
