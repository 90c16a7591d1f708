#!/usr/bin/env bash
# A unit shared by three stations: two `quorvel --lock` processes and PyVISA
# (pyvisa-py) locking with lock_excl(), all at once against zentrix8-sim.
# The simulator's log must show each station's commands as one block; a
# station killed while it holds the lock frees the unit, one stopped with
# Ctrl-C gives it back itself.  PyVISA needs the portmapper on port 111, so
# all of it runs in a network namespace of its own.  Exit 77 = skipped.
set -u
sim=$1
quorvel=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/namespace.sh"
/usr/bin/python3 -c "import pyvisa, pyvisa_py" 2>/dev/null || skip "python3-pyvisa or python3-pyvisa-py missing"
enter_namespace "$0" "$@"
ip link set lo up
work=$(mktemp -d)
log=$work/sim.log
"$sim" --socket-port 5025 --portmapper-port 111 --log 2>"$log" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do grep -q "serving Zentrix8:" "$log" && break; sleep 0.1; done
: >"$work/empty.ini"
unit=(--config "$work/empty.ini" --address TCPIP::127.0.0.1::inst0::INSTR)
status=0
fail() { echo "FAILED: $*"; status=1; }
# How many locks the simulator has given; waiting until it has given one more.
locks() { grep -c " locked the unit (link" "$log"; }
await_lock() { local n; n=$1; for _ in $(seq 100); do [ "$(locks)" -gt "$n" ] && return 0; sleep 0.1; done; return 1; }

echo "== three stations at once"
timeout 60 "$quorvel" "${unit[@]}" --lock 30 -v measure --channel 2 --count 3 >"$work/a.out" 2>"$work/a.err" &
a=$!
timeout 60 "$quorvel" "${unit[@]}" --lock 30 -v measure --channel 5 --count 3 >"$work/b.out" 2>"$work/b.err" &
b=$!
timeout 60 /usr/bin/python3 "$here/locks.py" station >"$work/c.out" 2>&1 &
c=$!
wait $a || fail "station A: status $?: $(tail -3 "$work/a.err")"
wait $b || fail "station B: status $?: $(tail -3 "$work/b.err")"
wait $c || fail "PyVISA station: $(cat "$work/c.out")"
cat "$work/c.out"
grep -h "locked the unit after" "$work/a.err" "$work/b.err" | sed 's/^/quorvel: /'
# The three asked at once, so at least one of the tool's two waited for another.
waits=$(grep -h -o "locked the unit after [0-9]* ms" "$work/a.err" "$work/b.err" | grep -o "[0-9]*" | sort -n | tail -1)
[ "${waits:-0}" -ge 100 ] || fail "no station waited for a lock (longest wait ${waits:-none} ms)"
/usr/bin/python3 "$here/locks.py" check "$log" || fail "the blocks were broken into"
echo "-- the simulator's log, each station's block:"
grep -E "locked the unit|unlocked the unit|released" "$log" | sed 's/^zentrix8-sim: *//'

echo "== a third-party station is refused while the tool holds the lock"
n=$(locks)
# (the tool's own --timeout, not timeout(1): the signals below are for the tool itself)
"$quorvel" "${unit[@]}" --timeout 60 --lock 30 measure --count 100 --interval 1 >/dev/null 2>&1 &
holder=$!
await_lock "$n" || fail "the tool did not lock the unit"
timeout 20 /usr/bin/python3 "$here/locks.py" refused || fail "pyvisa-py was not refused"

echo "== a station killed while it holds the lock frees the unit"
kill -9 $holder
wait $holder 2>/dev/null
started=$(date +%s%N)
out=$(timeout 20 "$quorvel" "${unit[@]}" --lock 5 idn 2>&1) || fail "the unit stayed locked after its holder died: $out"
echo "the next station locked it after $(( ($(date +%s%N) - started) / 1000000 )) ms"
grep "released the unit's lock" "$log" | tail -1 | sed 's/^zentrix8-sim: *//'
grep -q "released the unit's lock: the connection of link" "$log" || fail "the simulator did not release the dead station's lock"

echo "== Ctrl-C: the tool gives the lock back itself"
before=$(grep -c "unlocked the unit" "$log")
n=$(locks)
"$quorvel" "${unit[@]}" --timeout 60 --lock 30 measure --count 100 --interval 1 >/dev/null 2>"$work/int.err" &
holder=$!
await_lock "$n" || fail "the tool did not lock the unit"
sleep 0.3
kill -INT $holder
wait $holder
echo "stopped with status $?"
after=$(grep -c "unlocked the unit" "$log")
[ "$after" -gt "$before" ] || fail "Ctrl-C left the lock to the connection's end: $(tail -3 "$work/int.err")"
out=$(timeout 20 "$quorvel" "${unit[@]}" --lock 0 idn 2>&1) || fail "the unit stayed locked after Ctrl-C: $out"
# QUORVEL_LOCKS_LOG=FILE keeps the simulator's log.
[ -n "${QUORVEL_LOCKS_LOG:-}" ] && cp "$log" "$QUORVEL_LOCKS_LOG"
[ $status = 0 ] && echo "locks: all stations kept their blocks"
exit $status
