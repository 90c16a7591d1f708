#!/usr/bin/env bash
# quorvel discover finds the simulators of a network: two zentrix8-sim on
# two addresses of a veth network, in a network namespace of this test's
# own (nothing outside it is ever a target).  Exit 77 = skipped.
set -u
sim=$1
quorvel=$2
. "$(dirname "$0")/namespace.sh"
enter_namespace "$0" "$@"
ip link set lo up
ip link add q0 type veth peer name q1 || { echo "skipped: no veth interfaces"; exit 77; }
ip link set q1 up
ip addr add 10.77.0.1/24 brd + dev q0
ip addr add 10.77.0.2/24 brd + dev q0
ip link set q0 up
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
for a in 10.77.0.1 10.77.0.2; do
  "$sim" --host "$a" --socket-port -1 --portmapper-port 111 >"$work/sim-$a.log" 2>&1 &
  pids+=($!)
done
for a in 10.77.0.1 10.77.0.2; do
  for _ in $(seq 50); do grep -q serving "$work/sim-$a.log" && break; sleep 0.1; done
done
: >"$work/empty.ini"
status=0
out=$(timeout 20 "$quorvel" discover --config "$work/empty.ini" --wait 1 2>&1)
echo "$out"
for a in 10.77.0.1 10.77.0.2; do
  echo "$out" | grep -qE "^TCPIP::$a::inst0::INSTR +Tavlor,Zentrix8," || { echo "not found: $a"; status=1; }
done
json=$(timeout 20 "$quorvel" discover --config "$work/empty.ini" --wait 1 --json 2>/dev/null)
echo "$json" | /usr/bin/python3 -c 'import json,sys; d=json.load(sys.stdin); sys.exit(0 if len(d) == 2 else 1)' || status=1
# The lxi tool finds them the same way.
if command -v lxi >/dev/null; then
  found=$(timeout 20 lxi discover 2>&1)
  echo "$found"
  for a in 10.77.0.1 10.77.0.2; do echo "$found" | grep -q "$a" || { echo "lxi did not find $a"; status=1; }; done
fi
# What it finds is ready for --address.
idn=$(timeout 20 "$quorvel" idn --config "$work/empty.ini" --address TCPIP::10.77.0.2::inst0::INSTR 2>&1)
echo "$idn" | grep -q "Serial       Z8-000123" || { echo "$idn"; status=1; }
exit $status
