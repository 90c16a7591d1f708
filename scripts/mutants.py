#!/usr/bin/env python3
"""Deletes one line of the driver at a time and runs the unit tests on it:
the lines whose deletion no test notices are listed.

usage: python3 scripts/mutants.py [--files driver/Settings.cpp ...] [--lines FILE:LINE ...] [--build DIR] [--quick]

Each candidate is a statement line (ending in ';', not a declaration, a
return of nothing, or a comment).  A deletion that does not compile counts as
noticed.  The shared library is rebuilt in its own build folder
(build/mutants, unoptimised for speed) and the test program loads it as it is,
so one mutant costs one compile, one link and one test run (about 5 s).  The
source file is restored after every mutant, also when the script is stopped.
Prints one line per survivor ("file:line: text") and a summary; exit status 0.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The tiers that run on the scripted double and the in-process simulator:
# what the driver's lines are for.  The network and tool tests add time, not coverage.
TEST_FILTER = "-*Network*:*Transports*:*Vxi11*:Quorvel*:*RealUnit*:*Component*"
SKIP = re.compile(r"^\s*(//|#|$|return;|break;|continue;|[{}]+;?$|(const |static |constexpr |auto |using |namespace )"
                  r"|[\w:<>,\s\*&]+\s[\w]+(\{\}|\s*=.*|\(.*\))?;$)")


def candidates(path):
    with open(path) as f:
        lines = f.read().split("\n")
    for n, text in enumerate(lines, 1):
        t = text.strip()
        if t.endswith(";") and not SKIP.match(t):
            yield n, text


def run(cmd, timeout):
    try:
        return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return None


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--files", nargs="+", help="driver sources to mutate (default: every driver/*.cpp)")
    p.add_argument("--build", default=os.path.join(ROOT, "build", "mutants"))
    p.add_argument("--quick", action="store_true", help="the first 20 candidates only (to try the script)")
    p.add_argument("--lines", nargs="+", metavar="FILE:LINE",
                   help="only these lines (an earlier run's survivors, to check them again)")
    args = p.parse_args()
    files = args.files or sorted(os.path.join("driver", f) for f in os.listdir(os.path.join(ROOT, "driver"))
                                 if f.endswith(".cpp"))
    if run(["cmake", "-S", ".", "-B", args.build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=None", "-DCMAKE_CXX_FLAGS=-O0",
            "-DQUORVEL_WERROR=OFF", "-DQUORVEL_BUILD_BENCH=OFF"], 300) != 0:
        sys.exit("mutants: cmake failed for " + args.build)
    print("mutants: building %s once" % args.build, file=sys.stderr, flush=True)
    if run(["ninja", "-C", args.build, "quorvel_tests"], 3600) != 0:
        sys.exit("mutants: the unmutated build fails")
    tests = [os.path.join(args.build, "tests", "quorvel_tests"), "--gtest_filter=" + TEST_FILTER, "--gtest_brief=1"]
    # The locale tests need the comma locale the test command makes.
    run(["ctest", "--test-dir", args.build, "-R", "Locale.MakeGerman"], 300)
    os.environ["LOCPATH"] = os.path.join(args.build, "locale")
    if run(tests, 300) != 0:
        sys.exit("mutants: the unmutated tests fail")

    original = {}
    current = [None]

    def restore(*_):
        if current[0]:
            with open(os.path.join(ROOT, current[0]), "w") as f:
                f.write(original[current[0]])
        if _:
            sys.exit(130)

    signal.signal(signal.SIGINT, restore)
    signal.signal(signal.SIGTERM, restore)
    if args.lines:
        wanted = {(w.rsplit(":", 1)[0], int(w.rsplit(":", 1)[1])) for w in args.lines}
        files = sorted({f for f, _ in wanted})
    todo = [(f, n, text) for f in files for n, text in candidates(os.path.join(ROOT, f))
            if not args.lines or (f, n) in wanted]
    if args.quick:
        todo = todo[:20]
    survivors, uncompiled, started = [], 0, time.monotonic()
    for k, (f, n, text) in enumerate(todo, 1):
        path = os.path.join(ROOT, f)
        if f not in original:
            with open(path) as fh:
                original[f] = fh.read()
        lines = original[f].split("\n")
        lines[n - 1] = ""  # the line numbers stay
        current[0] = f
        try:
            with open(path, "w") as fh:
                fh.write("\n".join(lines))
            if run(["ninja", "-C", args.build, "Tavlor_QuorvelUnit"], 600) != 0:
                uncompiled += 1
                continue
            if run(tests, 120) == 0:
                survivors.append((f, n, text.strip()))
                print("%s:%d: %s" % (f, n, text.strip()), flush=True)
        finally:
            restore()
            current[0] = None
        if k % 50 == 0:
            print("mutants: %d of %d after %.0f s" % (k, len(todo), time.monotonic() - started), file=sys.stderr, flush=True)
    run(["ninja", "-C", args.build, "Tavlor_QuorvelUnit"], 600)  # back to the real library
    print("mutants: %d lines deleted one at a time, %d did not compile, %d survived (no test noticed) in %.0f s"
          % (len(todo), uncompiled, len(survivors), time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
