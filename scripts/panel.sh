#!/usr/bin/env bash
# Builds and starts quorvel-panel, the service dialog in a window (on the
# embedded simulator unless a unit is given: --address, --config, --device).
# Without a display, run it under Xvfb: xvfb-run -a bash scripts/panel.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --panel
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=OFF \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target quorvel-panel | grep -vE '^\[[0-9]+/[0-9]+\] ' >&2 || true
[ -x build/release/apps/quorvel-panel ] || { echo "quorvel-panel: build failed" >&2; exit 1; }
exec build/release/apps/quorvel-panel "$@"
