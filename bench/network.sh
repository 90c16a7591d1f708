#!/usr/bin/env bash
# Network figures in one run, each phase in a process of its own, in a
# network namespace of its own (port 111 for the portmapper): the C floor
# (a minimal C client against a minimal C server), the driver over a socket
# and VXI-11 against zentrix8-sim, PyVISA-py and lxi when installed; then a
# table of ratios against the targets.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${IN_NAMESPACE:-}" != 1 ]; then
  bash scripts/deps.sh --test
  echo "== building (release)" >&2
  cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_PANEL=OFF >/dev/null
  cmake --build build/bench --target quorvel_netbench quorvel_bench zentrix8-sim >/dev/null
  cc -O2 -o build/bench/floor bench/floor.c -lpthread
  IN_NAMESPACE=1 exec unshare --net bash "$0" "$@"
fi
ip link set lo up
build/bench/apps/zentrix8-sim --time-scale 0 --reboot-seconds 0 >/dev/null 2>&1 &
sim=$!
build/bench/floor serve 6000 &
floor=$!
trap 'kill $sim $floor 2>/dev/null || true' EXIT
sleep 0.5
figures=$(mktemp)
put() { echo "$1 $2" | tee -a "$figures" >&2; }
nb() { build/bench/bench/quorvel_netbench 127.0.0.1 5025 "$@" | tee -a "$figures" >&2; }
rss() { awk '/VmRSS/ { print $2 / 1024 }' "/proc/$sim/status"; }

echo "== phases (each its own process)" >&2
put floor_query "$(build/bench/floor query 127.0.0.1 6000 2000)"
put floor_upload "$(build/bench/floor upload 127.0.0.1 6000 16777216)"
put floor_parse "$(build/bench/floor parse 200000 21)"
sizes="1000 10000 100000 200000 1000000"
for n in $sizes; do put "floor_list_$n" "$(build/bench/floor list 127.0.0.1 6000 "$n" 15)"; done
for t in socket vxi11; do
  nb query "$t"
  for n in $sizes; do nb list "$t" "$n"; done
  nb upload "$t" 5
done
before=$(rss)
for _ in $(seq 10); do build/bench/bench/quorvel_netbench 127.0.0.1 5025 upload socket 5 >/dev/null; build/bench/bench/quorvel_netbench 127.0.0.1 5025 upload vxi11 5 >/dev/null; done
put sim_rss_before_100_uploads "$before"
put sim_rss_after_100_uploads "$(rss)"
parse=$(build/bench/bench/quorvel_bench --benchmark_filter=BM_ParseValueList/200000 --benchmark_format=csv 2>/dev/null |
  awk -F, '/BM_ParseValueList/ { print $6 / 1e6 }')
put list_parse "$parse"
if /usr/bin/python3 -c "import pyvisa, pyvisa_py" 2>/dev/null; then
  /usr/bin/python3 bench/pyvisa_bench.py TCPIP::127.0.0.1::5025::SOCKET TCPIP::127.0.0.1::inst0::INSTR | tee -a "$figures" >&2
fi
if command -v lxi >/dev/null; then
  rate=$(lxi benchmark -a 127.0.0.1 -c 2000 2>&1 | awk '/requests\/second/ { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9.]+$/) v = $i } END { print v }')
  [ -n "$rate" ] && put lxi_vxi11_query "$(awk -v r="$rate" 'BEGIN { print 1e6 / r }')"
fi

awk -v sizes="$sizes" '
  { v[$1] = $2 }
  function ratio(a, b) { return (b > 0 && a != "") ? a / b : 0 }
  function row(what, value, target, met) { printf "| %-44s | %9.2f | %-15s | %s |\n", what, value, target, met < 0 ? "" : met ? "met" : "NOT met" }
  END {
    print "| figure | value | target | |"
    print "|---|---:|---|---|"
    row("socket query / C floor query", ratio(v["socket_query"], v["floor_query"]), "<= 1.1", ratio(v["socket_query"], v["floor_query"]) <= 1.1)
    row("VXI-11 query / C floor query", ratio(v["vxi11_query"], v["floor_query"]), "<= 2.0", ratio(v["vxi11_query"], v["floor_query"]) <= 2.0)
    row("VXI-11 list 200000 / socket list 200000", ratio(v["vxi11_list_200000"], v["socket_list_200000"]), "<= 1.2",
        ratio(v["vxi11_list_200000"], v["socket_list_200000"]) <= 1.2)
    n = split(sizes, s, " ")
    for (t = 1; t <= 2; t++) {
      tr = t == 1 ? "socket" : "vxi11"
      worst = 0
      for (i = 1; i <= n; i++) { c = v[tr "_list_" s[i]] / s[i]; per[i] = c }
      growth = per[n] / per[3]
      row(tr " list per value, 1M / 100k", growth, "<= 1.2 (linear)", growth <= 1.2)
    }
    row("socket upload / C floor upload", ratio(v["socket_upload"], v["floor_upload"]), ">= 0.6", ratio(v["socket_upload"], v["floor_upload"]) >= 0.6)
    row("VXI-11 upload / C floor upload", ratio(v["vxi11_upload"], v["floor_upload"]), ">= 0.6", ratio(v["vxi11_upload"], v["floor_upload"]) >= 0.6)
    row("list parse / strtod loop", ratio(v["list_parse"], v["floor_parse"]), ">= 2", ratio(v["list_parse"], v["floor_parse"]) >= 2)
    row("simulator MB after / before 100 uploads", ratio(v["sim_rss_after_100_uploads"], v["sim_rss_before_100_uploads"]), "~1 (flat)",
        ratio(v["sim_rss_after_100_uploads"], v["sim_rss_before_100_uploads"]) <= 1.5)
    if (v["pyvisa_vxi11_query"] > 0) row("PyVISA-py VXI-11 query / ours", ratio(v["pyvisa_vxi11_query"], v["vxi11_query"]), "(peer, times ours)", -1)
    if (v["pyvisa_vxi11_list_200000"] > 0) row("PyVISA-py VXI-11 list 200000 / ours", ratio(v["pyvisa_vxi11_list_200000"], v["vxi11_list_200000"]), "(peer, times ours)", -1)
    if (v["lxi_vxi11_query"] > 0) row("lxi VXI-11 query / ours", ratio(v["lxi_vxi11_query"], v["vxi11_query"]), "(peer, times ours)", -1)
    printf "\n| list read, values | socket us/1000 values | VXI-11 us/1000 values | C floor us/1000 values |\n|---:|---:|---:|---:|\n"
    for (i = 1; i <= n; i++)
      printf "| %d | %.1f | %.1f | %.1f |\n", s[i], v["socket_list_" s[i]] / s[i] * 1e6, v["vxi11_list_" s[i]] / s[i] * 1e6, v["floor_list_" s[i]] / s[i] * 1e6
    printf "\nC floor: query %.1f us, upload %.0f MiB/s, strtod parse %.0f MB/s; ours: socket query %.1f us, VXI-11 query %.1f us, uploads %.0f / %.0f MiB/s, parse %.0f MB/s\n",
      v["floor_query"], v["floor_upload"], v["floor_parse"], v["socket_query"], v["vxi11_query"], v["socket_upload"], v["vxi11_upload"], v["list_parse"]
  }' "$figures"
rm -f "$figures"
