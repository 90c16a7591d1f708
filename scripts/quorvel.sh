#!/usr/bin/env bash
# Builds the component and runs the quorvel tool with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
# Warnings do not stop a user's build; the test build treats them as errors.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_WERROR=OFF \
  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/release --target quorvel zentrix8-sim | grep -vE '^\[[0-9]+/[0-9]+\] |^ninja: no work to do' >&2 || true
[ -x build/release/apps/quorvel ] || { echo "quorvel: build failed" >&2; exit 1; }
exec build/release/apps/quorvel "$@"
