"""quorvel against servers that misbehave: it must give up, say so on stderr
and exit with a non-zero status in bounded time and memory.

Bounds, with the device entry's Timeout = 1000 ms:
  raw socket       the time-out + 1.5 s                          = 2.5 s
  VXI-11 core      the time-out + 1 s + 0.5 s + 1.5 s            = 4.0 s
                   (the client waits 1 s beyond its own I/O time-out for an RPC
                   reply, as the server takes that time-out too, and up to
                   0.5 s for destroy_link when it closes the link)
  portmapper       the time-out + 1.5 s                          = 2.5 s
A run still going 1.5 s after its bound is killed and reported.
"""

import fcntl
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time

import hostile
from procs import Watched
from suite import Ctx, Failed, Skipped, case, each, require, short

TIMEOUT_MS = 1000
SOCKET_BOUND = TIMEOUT_MS / 1000 + 1.5
VXI11_BOUND = TIMEOUT_MS / 1000 + 1.0 + 0.5 + 1.5
PORTMAPPER_BOUND = TIMEOUT_MS / 1000 + 1.5
MEMORY_MB = 150


def hostile_idn(ctx, address, server, bound, what):
    """quorvel idn at address; the server must have started misbehaving, the client must give up in time."""
    run = ctx.quorvel(["--address", address, "idn"], bound + 1.5, config=ctx.config(TIMEOUT_MS))
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(server.saw("hostile"), "%s: the client never reached it (%s: %s)" % (what, run.describe(), run.last_err_line()))
    require(not run.timed_out and not run.killed_for_memory, "%s: %s" % (what, run.describe()))
    require(0 < run.rc < 128, "%s: %s, a non-zero exit status expected (%s)" % (
        what, run.describe(), ("printed: " + short(run.out, 80)) if run.rc == 0 else run.last_err_line()))
    require(run.err.strip(), "%s: exit %d with nothing on stderr" % (what, run.rc))
    require(run.seconds <= bound, "%s: gave up only after %.1f s (bound %.1f s): %s" % (what, run.seconds, bound, run.last_err_line()))
    require(run.peak_or_zero < MEMORY_MB, "%s: peak memory %.0f MB (limit %d MB)" % (what, run.peak_or_zero, MEMORY_MB))
    ctx.m.note("%s: exit %d after %.1f s: %s" % (what, run.rc, run.seconds, run.last_err_line()))


def vxi11_resource(port):
    return "TCPIP::127.0.0.1,%d::inst0::INSTR" % port


def against_vxi11(ctx, mode, what, interval=1.0):
    abort = hostile.AbortChannel()
    server = hostile.Vxi11Hostile(mode, abort_port=abort.port, interval=interval)
    try:
        hostile_idn(ctx, vxi11_resource(server.port), server, VXI11_BOUND, what)
    finally:
        server.stop()
        abort.stop()


@case("vxi11-empty-read", "every device_read answered with error 0, reason 0, no data")
def vxi11_empty_read(ctx):
    against_vxi11(ctx, "empty-read", "empty device_read replies")


@case("vxi11-wrong-xid", "replies with a wrong xid every 0.5 s (from create_link; from the first device_read)")
def vxi11_wrong_xid(ctx):
    each(lambda: against_vxi11(ctx, "wrong-xid-link", "wrong xids from create_link"),
         lambda: against_vxi11(ctx, "wrong-xid-read", "wrong xids from device_read"))


@case("vxi11-dribble", "a device_read reply in empty and 1-byte non-last fragments, one a second, never ending")
def vxi11_dribble(ctx):
    against_vxi11(ctx, "dribble-read", "a reply that never ends", interval=1.0)


# --- the portmapper, on port 111 of a network namespace of our own ------------------

def loopback_up():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        ifr = struct.pack("16sh22x", b"lo", 0)
        flags = struct.unpack("16sh22x", fcntl.ioctl(s, 0x8913, ifr))[1]  # SIOCGIFFLAGS
        fcntl.ioctl(s, 0x8914, struct.pack("16sh22x", b"lo", flags | 1))  # SIOCSIFFLAGS, IFF_UP
    finally:
        s.close()


def netns_command():
    if not shutil.which("unshare"):
        return None
    cmd = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-r", "-n"]
    try:
        ok = subprocess.run(cmd + ["true"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=5).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        ok = False
    return cmd if ok else None


def portmapper_dribble_in_namespace(quorvel, sim, tmp, m):
    """Runs inside the namespace: a control run through the real portmapper, then the hostile one."""
    loopback_up()
    ctx = Ctx(quorvel, sim, tmp, m)
    address = "TCPIP::127.0.0.1::inst0::INSTR"
    real = ctx.sim(socket_port=False, host_port_pm=111)
    try:
        control = ctx.quorvel(["--address", address, "idn"], 10, config=ctx.config(TIMEOUT_MS))
    finally:
        real.end()
    require(control.rc == 0, "control run through zentrix8-sim's portmapper on 111 failed: %s: %s"
            % (control.describe(), control.last_err_line()))
    server = hostile.PortmapperDribble(port=111, interval=0.5)
    try:
        hostile_idn(ctx, address, server, PORTMAPPER_BOUND, "a GETPORT reply that never ends")
    finally:
        server.stop()


def in_namespace(ctx, part):
    """Runs NAMESPACE_PARTS[part] in a network namespace of its own (only its loopback, port 111 free)."""
    cmd = netns_command()
    if not cmd:
        raise Skipped("no network namespace can be made here")
    here = os.path.dirname(os.path.abspath(__file__))
    child = Watched(cmd + [sys.executable, os.path.join(here, "run.py"), "--netns-child", part,
                           "--quorvel", ctx.quorvel_path, "--sim", ctx.sim_path, "--tmp", ctx.tmp],
                    env=ctx.env, out_path=ctx.path("netns.out"), err_path=ctx.path("netns.err"))
    if child.wait(30) is None:
        child.end()
        raise Failed("the namespace run did not end within 30 s")
    lines = [l for l in child.stdout().splitlines() if l.startswith("{")]
    if not lines:
        raise Failed("the namespace run reported nothing: " + short(child.stderr()))
    r = json.loads(lines[-1])
    ctx.m.time(r.get("seconds") or 0)
    ctx.m.memory(r.get("peak_mb"))
    if r["outcome"] == "skipped":
        raise Skipped(r["note"])
    if r["outcome"] != "ok":
        raise Failed(r["note"])
    ctx.m.note(r["note"])


@case("vxi11-dribble-portmapper", "the portmapper's GETPORT reply dribbles (port 111 in a network namespace)")
def vxi11_dribble_portmapper(ctx):
    in_namespace(ctx, "portmapper-dribble")


# --- discover: hundreds of hosts whose units never answer, and a real one -----------

DISCOVER_WAIT = 3.0
BLACK_HOLES = 300


def loopback_address(k):
    return "127.0.%d.%d" % (k // 250, 2 + k % 250)


def discover_in_namespace(quorvel, sim, tmp, m):
    """Runs inside the namespace: the real simulator alone, then among hundreds of hosts that never identify."""
    import resource
    loopback_up()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(max(soft, 4096), hard), hard))
    ctx = Ctx(quorvel, sim, tmp, m)
    real_ip = "127.0.0.1"
    real = ctx.sim(socket_port=False, host_port_pm=111)
    try:
        # Alone on the loopback (no other interface is up): found and identified.
        control = ctx.quorvel(["discover", "--wait", "1", "--json"], 10)
        require(control.rc == 0, "control run: %s: %s" % (control.describe(), control.last_err_line()))
        cut = ctx.quorvel(["discover", "--wait", "5", "--timeout", "1"], 4)
        require(cut.rc == 124 and "TCPIP::127.0.0.1::inst0::INSTR" in cut.out,
                "--timeout 1 before --wait 5 ends: %s, printed %r" % (cut.describe(), short(cut.out, 80)))
        named = ctx.quorvel(["discover", "--interface", "nope"], 10)
        require(named.rc == 2 and "lo" in named.err, "--interface nope: %s: %s" % (named.describe(), named.last_err_line()))
        flood = hostile.DiscoverFlood(BLACK_HOLES, loopback_address)
        try:
            run = ctx.quorvel(["discover", "--wait", str(DISCOVER_WAIT), "--json"], DISCOVER_WAIT + 5)
        finally:
            flood.stop()
    finally:
        real.end()
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(not run.timed_out and run.rc == 0, "among %d silent hosts: %s: %s" % (BLACK_HOLES, run.describe(), run.last_err_line()))
    require(run.seconds <= DISCOVER_WAIT + 1.0, "--wait %.0f took %.1f s" % (DISCOVER_WAIT, run.seconds))
    found = json.loads(run.out)
    require(len(found) == BLACK_HOLES + 1, "%d hosts listed, %d answered" % (len(found), BLACK_HOLES + 1))
    mine = [h for h in found if h["resource"] == "TCPIP::%s::inst0::INSTR" % real_ip]
    require(mine and "Zentrix8" in mine[0]["identity"], "the real unit: %s" % (mine or "not listed"))
    ctx.m.note("%d hosts listed after %.1f s with --wait %.0f, the real unit identified" % (len(found), run.seconds, DISCOVER_WAIT))


@case("discover-flood", "discover among 300 hosts whose units never answer *IDN? and one real unit")
def discover_flood(ctx):
    in_namespace(ctx, "discover")


NAMESPACE_PARTS = {"portmapper-dribble": portmapper_dribble_in_namespace, "discover": discover_in_namespace}


# --- the raw socket --------------------------------------------------------------------

def socket_resource(port):
    return "TCPIP::127.0.0.1::%d::SOCKET" % port


@case("socket-endless", "every query, *ESR? too, answered with an endless stream without a line feed")
def socket_endless(ctx):
    server = hostile.ScpiHostile("endless")
    try:
        hostile_idn(ctx, socket_resource(server.port), server, SOCKET_BOUND, "an endless answer")
    finally:
        server.stop()


@case("socket-huge-idn", "*IDN? answered with one 78 MB line: fail or answer, quickly, under 150 MB")
def socket_huge_idn(ctx):
    server = hostile.ScpiHostile("huge-idn")
    try:
        run = ctx.quorvel(["--address", socket_resource(server.port), "idn"], SOCKET_BOUND + 1.5,
                          config=ctx.config(TIMEOUT_MS))
    finally:
        server.stop()
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(server.saw("hostile"), "the client never asked *IDN? (%s: %s)" % (run.describe(), run.last_err_line()))
    require(not run.timed_out and not run.killed_for_memory, run.describe())
    require(0 <= run.rc < 128, run.describe())
    require(run.rc == 0 or run.err.strip(), "exit %d with nothing on stderr" % run.rc)
    require(run.peak_or_zero < MEMORY_MB, "peak memory %.0f MB (limit %d MB)" % (run.peak_or_zero, MEMORY_MB))
    require(run.seconds <= SOCKET_BOUND, "took %.1f s (bound %.1f s)" % (run.seconds, SOCKET_BOUND))
    ctx.m.note("exit %d after %.1f s, %d bytes out: %s" % (run.rc, run.seconds, len(run.out),
                                                           run.last_err_line() if run.rc else "answered"))


@case("config-timeout", "Timeout = 1e300, 9223372036854775807, 0.5: no crash, a warning naming Timeout")
def config_timeout(ctx):
    control = ctx.quorvel(["idn"], 10, config=ctx.config(timeout_text="1000"))
    ctx.m.memory(control.peak_mb)
    require(control.rc == 0, "Timeout = 1000: %s: %s" % (control.describe(), control.last_err_line()))
    require("timeout" not in control.err.lower(), "Timeout = 1000 already warns: " + control.last_err_line())
    problems = []
    for value in ("1e300", "9223372036854775807", "0.5"):
        run = ctx.quorvel(["idn"], 10, config=ctx.config(timeout_text=value))
        ctx.m.time(run.seconds)
        ctx.m.memory(run.peak_mb)
        if run.timed_out or run.rc is None or run.rc < 0 or run.rc >= 128:
            problems.append("%s: %s" % (value, run.describe()))
        elif "timeout" not in run.err.lower():
            problems.append("%s: exit %d, no warning naming Timeout" % (value, run.rc))
        else:
            warning = [l for l in run.err.splitlines() if "timeout" in l.lower()][0]
            ctx.m.note("%s: exit %d, %s" % (value, run.rc, short(warning.replace(ctx.tmp + "/", ""), 70)))
    require(not problems, "; ".join(problems))


# --- operations the unit never reports complete ------------------------------------

# The completion wait lasts the operation's own time, 5 s allowance and the
# session's time-out; a run makes at most two such waits (the reset, then the
# measurement) before it gives up.
COMPLETION_BOUND = 2 * (5 + TIMEOUT_MS / 1000) + TIMEOUT_MS / 1000 + 1.5


def measure_gives_up(ctx, port, what):
    run = ctx.quorvel(["--address", socket_resource(port), "measure"], COMPLETION_BOUND + 1.5,
                      config=ctx.config(TIMEOUT_MS))
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(not run.timed_out, "%s: %s (the wait is not bounded by the operation)" % (what, run.describe()))
    if run.rc == 0:
        return "%s: completed anyway after %.1f s" % (what, run.seconds)
    require(0 < run.rc < 128, "%s: %s" % (what, run.describe()))
    require("did not report" in run.err, "%s: exit %d without saying the unit did not complete: %s" % (
        what, run.rc, run.last_err_line()))
    require(run.seconds <= COMPLETION_BOUND, "%s: gave up after %.1f s (bound %.1f s)" % (what, run.seconds, COMPLETION_BOUND))
    return "%s: exit %d after %.1f s" % (what, run.rc, run.seconds)


@case("never-complete", "operations never complete; another station steals every completion bit with *ESR?")
def never_complete(ctx):
    sim = ctx.sim("--never-complete", vxi11=False, portmapper=False)
    try:
        ctx.m.note(measure_gives_up(ctx, sim.socket_port, "--never-complete"))
    finally:
        sim.end()
    sim = ctx.sim(vxi11=False, portmapper=False)
    stop = threading.Event()

    def thief():
        from suite import ScpiClient
        c = ScpiClient(sim.socket_port)
        try:
            while not stop.is_set():
                c.query("*ESR?")
                time.sleep(0.002)
        except OSError:
            pass
        finally:
            c.close()

    t = threading.Thread(target=thief, daemon=True)
    t.start()
    try:
        ctx.m.note(measure_gives_up(ctx, sim.socket_port, "a station polling *ESR?"))
    finally:
        stop.set()
        t.join(5)
        sim.end()


# --- firmware: refused by the unit, a restart longer than --wait ---------------------

@case("firmware-outcomes", "a block the unit refuses (-161); a restart longer than --wait with a 20 s time-out")
def firmware_outcomes(ctx):
    bad = ctx.path("bad.fw")
    with open(bad, "wb") as f:
        f.write(b"SYSTEM:FWUPDATE #15abcdeXYZ\n")  # promises 5 bytes, holds 8: the unit refuses the block
    good = ctx.path("good.fw")
    with open(good, "wb") as f:
        f.write(b"SYSTEM:FWUPDATE #3100" + b"x" * 100 + b"\n")
    sim = ctx.sim("--reboot-seconds", "30", portmapper=False)
    try:
        address = socket_resource(sim.socket_port)
        # Over VXI-11 the block ends with the message (END): what follows its data is the block's own fault.
        refused = ctx.quorvel(["--address", vxi11_resource(sim.core_port), "firmware", bad, "--force", "--wait", "5"], 15)
        require(refused.rc == 4 and "refused the firmware: -161" in refused.err and "now" not in refused.out,
                "a refused block: %s: %s / %s" % (refused.describe(), refused.last_err_line(), short(refused.out, 80)))
        slow = ctx.quorvel(["--address", address, "firmware", good, "--wait", "3"], 10, config=ctx.config(20000))
    finally:
        sim.end()
    ctx.m.time(slow.seconds)
    require(slow.rc == 3 and "did not come back within 3 s" in slow.err,
            "a restart longer than --wait: %s: %s" % (slow.describe(), slow.last_err_line()))
    require(slow.seconds <= 3 + 1.0, "--wait 3 with a 20 s time-out took %.1f s" % slow.seconds)
    ctx.m.note("refused: exit 4; --wait 3: exit 3 after %.1f s" % slow.seconds)
