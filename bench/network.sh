#!/usr/bin/env bash
# Network figures in one run, in a network namespace of its own (port 111 for
# the portmapper): the driver over a socket and VXI-11, the plain-TCP floor,
# PyVISA-py; then the ratios the targets are set in.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${IN_NAMESPACE:-}" != 1 ]; then
  bash scripts/deps.sh --test
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_PANEL=OFF >/dev/null
  cmake --build build/bench --target quorvel_netbench zentrix8-sim >/dev/null
  IN_NAMESPACE=1 exec unshare --net bash "$0" "$@"
fi
ip link set lo up
build/bench/apps/zentrix8-sim --time-scale 0 --reboot-seconds 0 >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
sleep 0.5
figures=$(mktemp)
build/bench/bench/quorvel_netbench 127.0.0.1 5025 | tee "$figures"
/usr/bin/python3 bench/pyvisa_bench.py TCPIP::127.0.0.1::5025::SOCKET TCPIP::127.0.0.1::inst0::INSTR | tee -a "$figures"
awk '
  { v[$1] = $2 }
  END {
    printf "\nratios (targets in brackets)\n"
    printf "socket query / floor          %.2f   [<= 1.1]\n", v["socket_query"] / v["floor_query"]
    printf "VXI-11 query / socket floor   %.2f   [<= 2.2]\n", v["vxi11_query"] / v["floor_query"]
    printf "VXI-11 query / PyVISA VXI-11  %.2f   [< 1]\n", v["vxi11_query"] / v["pyvisa_vxi11_query"]
    printf "PyVISA trace / socket trace   %.1f   [>= 10]\n", v["pyvisa_socket_trace"] / v["socket_trace"]
    printf "PyVISA trace / VXI-11 trace   %.1f   [>= 10]\n", v["pyvisa_vxi11_trace"] / v["vxi11_trace"]
    printf "socket upload / floor upload  %.2f   [>= 0.5]\n", v["socket_upload"] / v["floor_upload"]
    printf "VXI-11 upload / floor upload  %.2f   [>= 0.5]\n", v["vxi11_upload"] / v["floor_upload"]
  }' "$figures"
rm -f "$figures"
