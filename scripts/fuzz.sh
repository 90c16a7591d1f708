#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz) and runs each for
# SECONDS (default 20) from its seed corpus in fuzz/corpus/<target>/.
#
#   bash scripts/fuzz.sh                 # a short run of every target
#   bash scripts/fuzz.sh 3600 scpi       # an hour of one (scpi, record, ini)
#
# The seeds are copied to a working corpus of the run, so fuzz/corpus/ does
# not grow; give QUORVEL_FUZZ_CORPUS=DIR to keep the working corpora in
# DIR/<target>/ from run to run.  A crash, time-out, leak or memory blow-up
# leaves its input in build/fuzz/artifacts/<target>/ and the run exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || { echo "usage: $0 [SECONDS] [TARGET...]" >&2; exit 2; }
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scpi record ini)

# Longest input per target: a few KB of SCPI or INI text, a few dozen RPC records.
declare -A max_len=([scpi]=4096 [record]=8192 [ini]=4096)
for t in "${targets[@]}"; do
  [ -n "${max_len[$t]:-}" ] || { echo "unknown target '$t' (scpi, record, ini)" >&2; exit 2; }
done

bash scripts/deps.sh --fuzz
command -v clang++ >/dev/null || { echo "clang++ not found (bash scripts/deps.sh --fuzz installs clang)" >&2; exit 1; }

echo "== building the fuzzers (clang, coverage, address and undefined sanitizers)"
# With QUORVEL_FUZZ the whole build is instrumented; warnings that only clang gives do not stop it.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DQUORVEL_FUZZ=ON -DQUORVEL_BUILD_TESTS=OFF \
  -DQUORVEL_BUILD_BENCH=OFF -DQUORVEL_BUILD_PANEL=OFF -DQUORVEL_WERROR=OFF >/dev/null
mkdir -p build/fuzz/logs
if ! cmake --build build/fuzz --target fuzzers >build/fuzz/logs/build.log 2>&1; then
  grep -vE '^\[[0-9]+/[0-9]+\] ' build/fuzz/logs/build.log | tail -40 >&2
  echo "the fuzzers did not build (build/fuzz/logs/build.log)" >&2
  exit 1
fi

symbolizer=$(command -v llvm-symbolizer || ls /usr/lib/llvm-*/bin/llvm-symbolizer 2>/dev/null | tail -1 || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH="$symbolizer"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for t in "${targets[@]}"; do
  fuzzer="$PWD/build/fuzz/fuzz/fuzz_$t"
  artifacts="$PWD/build/fuzz/artifacts/$t"
  log="$PWD/build/fuzz/logs/$t.log"
  mkdir -p "$artifacts" "$(dirname "$log")"
  if [ -n "${QUORVEL_FUZZ_CORPUS:-}" ]; then
    corpus="$QUORVEL_FUZZ_CORPUS/$t"
  else
    corpus="$work/$t"
  fi
  mkdir -p "$corpus"
  cp fuzz/corpus/"$t"/* "$corpus"/
  before=$(ls "$artifacts" | grep -cvE '^slow-unit-' || true)
  echo "== fuzz_$t for ${seconds}s (max_len ${max_len[$t]}; log $log)"
  start=$(date +%s)
  status=0
  # The fuzzer runs in its working directory; the time limit is a backstop for a hung run.
  (cd "$work" && timeout --signal=INT --kill-after=30 $((seconds + 120)) "$fuzzer" \
    -max_total_time="$seconds" -max_len="${max_len[$t]}" -rss_limit_mb=1024 -timeout=5 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 "$corpus") >"$log" 2>&1 || status=$?
  took=$(( $(date +%s) - start ))
  grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' "$log" | tail -2 | sed 's/^/   /' || true
  after=$(ls "$artifacts" | grep -cvE '^slow-unit-' || true)
  if [ "$status" -ne 0 ] || [ "$after" -gt "$before" ]; then
    failed=1
    echo "!! fuzz_$t failed (exit $status) after ${took}s:"
    grep -E 'check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' "$log" | head -5 | sed 's/^/   /' || true
    repro=$(ls -t "$artifacts" | grep -vE '^slow-unit-' | head -1 || true)
    if [ -n "$repro" ]; then
      echo "   reproducer: build/fuzz/artifacts/$t/$repro"
      echo "   run again:  build/fuzz/fuzz/fuzz_$t build/fuzz/artifacts/$t/$repro"
    fi
    echo "   full output: $log"
  else
    echo "   fuzz_$t: nothing found in ${took}s"
  fi
done
exit "$failed"
