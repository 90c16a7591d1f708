#!/usr/bin/env python3
"""Fault suite for quorvel and zentrix8-sim: black-box runs against hostile
servers, hostile clients and hostile files, each of which must end cleanly.

usage: run.py --quorvel PATH --sim PATH [--only NAME ...] [--list]

Prints one row per case (case, outcome, time to detect, peak memory of the
process under test, note) and exits 0 only when every case is ok (skipped
cases count as ok).  Everything runs on 127.0.0.1 (or in a network namespace
of its own) and under a temporary folder that is removed at the end.
"""

import argparse
import json
import os
import shutil
import signal
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True  # nothing lands in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import procs  # noqa: E402
import suite  # noqa: E402
import cases_client  # noqa: E402,F401  (the modules register their cases)
import cases_sim  # noqa: E402,F401
import cases_files  # noqa: E402,F401


def fmt(v, digits):
    return "-" if v is None else ("%." + str(digits) + "f") % v


def run_case(fn, args, root):
    tmp = tempfile.mkdtemp(prefix="case-", dir=root)
    m = suite.Measure()
    ctx = suite.Ctx(args.quorvel, args.sim, tmp, m)
    t0 = time.monotonic()
    try:
        fn(ctx)
        outcome, note = "ok", "; ".join(m.notes)
    except suite.Failed as e:
        outcome, note = "FAIL", str(e)
    except suite.Skipped as e:
        outcome, note = "skipped", str(e)
    except Exception as e:  # a fault of the suite itself is a failure too, with its trace on stderr
        traceback.print_exc()
        outcome, note = "FAIL", "suite error: %s: %s" % (type(e).__name__, e)
    finally:
        procs.end_all()
        shutil.rmtree(tmp, ignore_errors=True)
    seconds = m.seconds if m.seconds is not None else time.monotonic() - t0
    note = note.replace(tmp + "/", "").replace(root + "/", "")  # the temporary folders say nothing
    return suite.Outcome(outcome, seconds, m.peak_mb, note), time.monotonic() - t0


def netns_child(args):
    """Runs one case's part inside a network namespace and prints its outcome as JSON."""
    tmp = os.path.join(args.tmp, "netns")
    os.makedirs(tmp, exist_ok=True)
    result = {"outcome": "ok", "seconds": None, "peak_mb": None, "note": ""}
    m = suite.Measure()
    try:
        cases_client.NAMESPACE_PARTS[args.netns_child](args.quorvel, args.sim, tmp, m)
        result.update(note="; ".join(m.notes))
    except suite.Failed as e:
        result.update(outcome="FAIL", note=str(e))
    except suite.Skipped as e:
        result.update(outcome="skipped", note=str(e))
    except Exception as e:
        traceback.print_exc()
        result.update(outcome="FAIL", note="suite error in the namespace: %s: %s" % (type(e).__name__, e))
    finally:
        procs.end_all()
    result.update(seconds=m.seconds, peak_mb=m.peak_mb)
    print(json.dumps(result), flush=True)
    return 0


def main():
    p = argparse.ArgumentParser(description="Fault suite for quorvel and zentrix8-sim.")
    p.add_argument("--quorvel", help="the quorvel program")
    p.add_argument("--sim", help="the zentrix8-sim program")
    p.add_argument("--only", nargs="+", action="extend", metavar="NAME", help="run only these cases")
    p.add_argument("--list", action="store_true", help="list the cases and exit")
    p.add_argument("--netns-child", help=argparse.SUPPRESS)
    p.add_argument("--tmp", help=argparse.SUPPRESS)
    args = p.parse_args()

    def stop(signum, _frame):
        raise KeyboardInterrupt("signal %d" % signum)

    signal.signal(signal.SIGTERM, stop)

    if args.list:
        for name, summary, _ in suite.CASES:
            print("%-26s %s" % (name, summary))
        return 0
    for what in ("quorvel", "sim"):
        path = getattr(args, what)
        if not path or not os.access(path, os.X_OK):
            p.error("--%s must name the built program (got %r)" % (what, path))
        setattr(args, what, os.path.abspath(path))
    if args.netns_child:
        return netns_child(args)

    names = [n for n, _, _ in suite.CASES]
    unknown = [n for n in (args.only or []) if n not in names]
    if unknown:
        p.error("no case named %s (--list shows them)" % ", ".join(unknown))
    selected = [c for c in suite.CASES if not args.only or c[0] in args.only]

    root = tempfile.mkdtemp(prefix="quorvel-faults-")
    rows = []
    started = time.monotonic()
    head = "%-26s %-8s %10s %9s  %s" % ("case", "outcome", "detect(s)", "peak(MB)", "note")
    print(head)
    print("-" * len(head))
    try:
        for name, _, fn in selected:
            result, wall = run_case(fn, args, root)
            rows.append((name, result))
            print("%-26s %-8s %10s %9s  %s" % (name, result.outcome, fmt(result.seconds, 2), fmt(result.peak_mb, 1),
                                                result.note), flush=True)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
        return 130
    finally:
        procs.end_all()
        shutil.rmtree(root, ignore_errors=True)
    failed = [n for n, r in rows if r.outcome == "FAIL"]
    print("-" * len(head))
    print("%d cases: %d ok, %d FAIL, %d skipped in %.0f s%s" % (
        len(rows), sum(r.outcome == "ok" for _, r in rows), len(failed), sum(r.outcome == "skipped" for _, r in rows),
        time.monotonic() - started, (": " + ", ".join(failed)) if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
