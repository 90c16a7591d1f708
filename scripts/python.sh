#!/usr/bin/env bash
# Builds the component and its host library, registers the component for
# this user, and runs python3 with the quorvel package on its path:
#   bash scripts/python.sh python/examples/burst_search.py
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --python
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=OFF \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target Tavlor_QuorvelUnit quorvel_host | grep -vE '^\[[0-9]+/[0-9]+\] |^ninja: no work to do' >&2 || true
export PYTHONPATH="$PWD/python${PYTHONPATH:+:$PYTHONPATH}"
python3 -m quorvel register build/release/libTavlor_QuorvelUnit.so.24 >&2
exec python3 "$@"
