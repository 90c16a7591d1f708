#!/usr/bin/env bash
# Peers no one here wrote, against zentrix8-sim: PyVISA (pyvisa-py) over
# VXI-11 and a socket, the lxi tool over VXI-11, and our own driver through
# the portmapper.  Port 111 is needed, so all of it runs in a network
# namespace of its own with only loopback up.  Exit 77 = skipped.
set -u
sim=$1
quorvel=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/namespace.sh"
/usr/bin/python3 -c "import pyvisa, pyvisa_py" 2>/dev/null && command -v lxi >/dev/null ||
  skip "python3-pyvisa, python3-pyvisa-py or lxi-tools missing"
enter_namespace "$0" "$@"
ip link set lo up
log=$(mktemp)
"$sim" --socket-port 5025 --portmapper-port 111 >"$log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 50); do grep -q serving "$log" && break; sleep 0.1; done
status=0
timeout 60 /usr/bin/python3 "$here/peers.py" || status=1
if command -v rpcinfo >/dev/null; then
  # The portmapper as rpcinfo sees it: the mappings (DUMP), the core channel over TCP.
  dump=$(timeout 10 rpcinfo -p 127.0.0.1 2>&1)
  echo "$dump"
  echo "$dump" | grep -qE '395183 +1 +tcp' || status=1
  ping=$(timeout 10 rpcinfo -t 127.0.0.1 395183 1 2>&1)
  echo "rpcinfo -t: $ping"
  case "$ping" in *"ready and waiting"*) ;; *) status=1 ;; esac
fi
idn=$(timeout 20 lxi scpi --address 127.0.0.1 '*IDN?' 2>&1)
echo "lxi: $idn"
case "$idn" in Tavlor,Zentrix8,*) ;; *) status=1 ;; esac
# Our driver through the portmapper, captured: the calls must decode as valid VXI-11.
capture=$(mktemp --suffix=.pcapng)
if command -v tshark >/dev/null; then
  tshark -i lo -f tcp -w "$capture" -q 2>/dev/null &
  tsh=$!
  for _ in $(seq 50); do [ -s "$capture" ] && break; sleep 0.1; done
  sleep 0.5
fi
empty=$(mktemp)
out=$(timeout 30 "$quorvel" --config "$empty" --address TCPIP::127.0.0.1::inst0::INSTR idn 2>&1)
rm -f "$empty"
echo "$out"
echo "$out" | grep -q "Serial       Z8-000123" || status=1
if command -v tshark >/dev/null; then
  sleep 0.5
  kill $tsh
  wait $tsh 2>/dev/null
  core=$(tshark -r "$capture" -Y vxi11_core 2>/dev/null | wc -l)
  portmap=$(tshark -r "$capture" -Y portmap 2>/dev/null | wc -l)
  malformed=$(tshark -r "$capture" -Y _ws.malformed 2>/dev/null | wc -l)
  echo "capture: $core VXI-11 core frames, $portmap portmapper frames, $malformed malformed"
  [ "$core" -ge 6 ] && [ "$portmap" -ge 2 ] && [ "$malformed" -eq 0 ] || status=1
fi
rm -f "$capture"
exit $status
