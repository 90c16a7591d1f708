#!/usr/bin/env bash
# With the system's portmapper (rpcbind) on port 111, zentrix8-sim registers
# its VXI-11 channels there, clients find it through it, and the mappings go
# when it stops.  In a network namespace of the test's own.  Exit 77 = skipped.
set -u
sim=$1
quorvel=$2
. "$(dirname "$0")/namespace.sh"
command -v rpcbind >/dev/null && command -v rpcinfo >/dev/null || skip "rpcbind missing"
enter_namespace "$0" "$@"
ip link set lo up
work=$(mktemp -d)
rpcbind -f >"$work/rpcbind.log" 2>&1 &
rpcb=$!
trap 'kill $rpcb 2>/dev/null; kill "${pid:-}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break; sleep 0.1; done
rpcinfo -p 127.0.0.1 >/dev/null 2>&1 || { echo "skipped: rpcbind did not start here"; cat "$work/rpcbind.log"; exit 77; }
# Once as a user starts it, once as its system service does: an unprivileged
# user of its own with no capability but binding low ports, with the options
# the package's /etc/default file gives.
status=0
round() {
  local label=$1; shift
  echo "== $label"
  "$@" >"$work/sim.out" 2>&1 &
  pid=$!
  for _ in $(seq 50); do grep -q "serving" "$work/sim.out" && break; sleep 0.1; done
  cat "$work/sim.out"
  grep -q "registered with the system's portmapper" "$work/sim.out" || status=1
  rpcinfo -p 127.0.0.1 | grep -qE '395183 +1 +tcp' || { echo "core channel not mapped"; status=1; }
  : >"$work/empty.ini"
  out=$(timeout 20 "$quorvel" idn --config "$work/empty.ini" --address TCPIP::127.0.0.1::inst0::INSTR 2>&1)
  echo "$out"
  echo "$out" | grep -q "Serial       Z8-000123" || status=1
  kill -TERM $pid
  wait $pid 2>/dev/null
  if rpcinfo -p 127.0.0.1 | grep -qE '39518[34]'; then echo "mappings left behind after the stop"; status=1; fi
}
round "started by a user" "$sim" --socket-port -1 --portmapper-port 111
# shellcheck source=/dev/null
. "$(dirname "$0")/../../cmake/package/zentrix8-sim.default"
if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  # shellcheck disable=SC2086
  round "as the service runs it" setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all,+net_bind_service \
    --ambient-caps=-all,+net_bind_service --bounding-set=-all,+net_bind_service "$sim" $ZENTRIX8_SIM_OPTIONS
fi
exit $status
