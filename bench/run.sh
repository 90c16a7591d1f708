#!/usr/bin/env bash
# Builds the benchmarks in release mode and prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_BUILD_PANEL=OFF >/dev/null
cmake --build build/bench --target quorvel_bench >/dev/null
build/bench/bench/quorvel_bench --benchmark_counters_tabular=true "$@"
