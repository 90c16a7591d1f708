"""zentrix8-sim under many clients and hostile ones: every answer goes to the
client that asked, no client holds up the others, memory, threads and CPU
time stay bounded, and SIGTERM ends it promptly.
"""

import errno
import os
import random
import re
import select
import signal
import socket
import subprocess
import threading
import time

import faultrpc as rpc
from procs import cpu_seconds
from suite import Failed, ScpiClient, case, idn_within, require, short

READ_TIMEOUT = 2.0


def right_kind(query, answer):
    if query == "*IDN?":
        return "Zentrix8" in answer
    m = re.fullmatch(r"\+?(\d{1,3})", answer.strip())
    return bool(m) and int(m.group(1)) < 256


class Tally:
    def __init__(self):
        self.lock = threading.Lock()
        self.right = 0
        self.wrong = 0
        self.lost = 0
        self.errors = 0
        self.first = None

    def problem(self, kind, text):
        with self.lock:
            setattr(self, kind, getattr(self, kind) + 1)
            if self.first is None:
                self.first = text

    def ok(self):
        with self.lock:
            self.right += 1


def run_clients(count, worker):
    tally = Tally()
    barrier = threading.Barrier(count)
    threads = [threading.Thread(target=worker, args=(i, barrier, tally), daemon=True) for i in range(count)]
    t0 = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join(60)
    return tally, time.monotonic() - t0


def report_clients(ctx, sim, tally, seconds, count, rounds, transport):
    ctx.m.time(seconds)
    ctx.m.memory(sim.w.peak_mb())
    expected = count * rounds * 2
    summary = "%d %s clients x %d queries: %d right, %d wrong kind, %d lost, %d broken" % (
        count, transport, rounds * 2, tally.right, tally.wrong, tally.lost, tally.errors)
    require(sim.alive(), "the simulator died; " + summary)
    require(tally.right == expected, summary + "; first: " + (tally.first or "?"))
    ctx.m.note(summary)


@case("many-socket-clients", "16 socket clients alternate *IDN? and *ESR? 200 times each: every answer is its own")
def many_socket_clients(ctx, count=16, rounds=200):
    sim = ctx.sim(vxi11=False)
    try:
        def worker(i, barrier, tally):
            try:
                c = ScpiClient(sim.socket_port)
            except OSError as e:
                tally.problem("errors", "client %d: cannot connect: %s" % (i, e))
                return
            try:
                barrier.wait(10)
                for n in range(rounds):
                    for q in ("*IDN?", "*ESR?"):
                        c.send(q)
                        try:
                            a = c.readline(READ_TIMEOUT)
                        except socket.timeout:
                            tally.problem("lost", "client %d, query %d (%s): no answer within %.0f s" % (i, 2 * n, q, READ_TIMEOUT))
                            return
                        if not right_kind(q, a):
                            tally.problem("wrong", "client %d asked %s, got %r" % (i, q, short(a, 40)))
                            return
                        tally.ok()
            except (OSError, threading.BrokenBarrierError) as e:
                tally.problem("errors", "client %d: %s" % (i, e))
            finally:
                c.close()

        tally, seconds = run_clients(count, worker)
        report_clients(ctx, sim, tally, seconds, count, rounds, "socket")
    finally:
        sim.end()


@case("many-vxi11-clients", "8 VXI-11 clients (portmapper, create_link) alternate *IDN? and *ESR? 200 times each")
def many_vxi11_clients(ctx, count=8, rounds=200):
    sim = ctx.sim(socket_port=False)
    try:
        core = rpc.getport("127.0.0.1", sim.pm_port, rpc.DEVICE_CORE, rpc.VXI11_VERSION)
        require(core == sim.core_port, "the portmapper says core port %d, the banner %s" % (core, sim.core_port))

        def worker(i, barrier, tally):
            try:
                c = rpc.Vxi11Client("127.0.0.1", core)
                err = c.create_link(b"inst0")[0]
                if err:
                    tally.problem("errors", "client %d: create_link error %d" % (i, err))
                    c.close()
                    return
            except (OSError, rpc.RpcError) as e:
                tally.problem("errors", "client %d: cannot link: %s" % (i, e))
                return
            try:
                barrier.wait(10)
                for n in range(rounds):
                    for q in ("*IDN?", "*ESR?"):
                        try:
                            a, err = c.query(q.encode() + b"\n", int(READ_TIMEOUT * 1000))
                        except socket.timeout:
                            tally.problem("lost", "client %d, %s: no RPC reply" % (i, q))
                            return
                        if err:
                            tally.problem("lost", "client %d, query %d (%s): VXI-11 error %d" % (i, 2 * n, q, err))
                            return
                        a = a.decode("latin-1").rstrip("\n")
                        if not right_kind(q, a):
                            tally.problem("wrong", "client %d asked %s, got %r" % (i, q, short(a, 40)))
                            return
                        tally.ok()
            except (OSError, rpc.RpcError, threading.BrokenBarrierError) as e:
                tally.problem("errors", "client %d: %s" % (i, e))
            finally:
                c.close()

        tally, seconds = run_clients(count, worker)
        report_clients(ctx, sim, tally, seconds, count, rounds, "VXI-11")
    finally:
        sim.end()


def garbage(n, seed=880):
    """n printable bytes without '?' or a line feed, the same every run."""
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789:;*,.# "
    return "".join(random.Random(seed).choices(alphabet, k=n)).encode()


@case("one-blocks-all", "one client sends an 880 KB garbage line; another's *IDN? is answered within 1 s throughout")
def one_blocks_all(ctx):
    sim = ctx.sim()
    line = garbage(880 * 1024) + b"\n"
    try:
        results = []
        for transport in ("socket", "VXI-11"):
            if transport == "socket":
                a = ScpiClient(sim.socket_port, timeout=10)
                send = lambda: a.send(line)
            else:
                a = rpc.Vxi11Client("127.0.0.1", sim.core_port, timeout=10)
                require(a.create_link(b"inst0")[0] == 0, "create_link refused")
                send = lambda: a.write(line, 10000)
            b = ScpiClient(sim.socket_port)
            try:
                require("Zentrix8" in b.query("*IDN?"), "no *IDN? answer before the garbage")
                sender = threading.Thread(target=lambda: _quietly(send), daemon=True)
                sender.start()
                # *IDN? again and again while the garbage goes in and is taken apart, and a while after.
                slowest, asked, problem = 0.0, 0, None
                until = time.monotonic() + 1.0
                while problem is None and (time.monotonic() < until or sender.is_alive()) and asked < 400:
                    t0 = time.monotonic()
                    try:
                        answer = b.query("*IDN?", timeout=1.0)
                    except (socket.timeout, ConnectionError) as e:
                        problem = "no *IDN? answer within 1 s (%s)" % e
                        break
                    asked += 1
                    slowest = max(slowest, time.monotonic() - t0)
                    if "Zentrix8" not in answer:
                        problem = "*IDN? got %r" % short(answer, 40)
                    time.sleep(0.02)
                    if not sender.is_alive():
                        until = min(until, time.monotonic() + 0.3)
                ctx.m.time(slowest)
                if problem:
                    results.append("%s garbage: %s" % (transport, problem))
                else:
                    ctx.m.note("%s garbage: %d *IDN? answered, slowest %.3f s" % (transport, asked, slowest))
                sender.join(10)
            finally:
                b.close()
                a.close()
        ctx.m.memory(sim.w.peak_mb())
        require(sim.alive(), "the simulator died")
        require(not results, "; ".join(results))
    finally:
        sim.end()


def _quietly(fn):
    try:
        fn()
    except (OSError, rpc.RpcError):
        pass


@case("unread-answers", "~1 MB of queries never read (3 ways): RSS growth < 64 MB, another client's *IDN? answered")
def unread_answers(ctx):
    sim = ctx.sim(vxi11=False)
    # The last one asks for calibration rows: some 9 KB of answer for every 22 bytes asked.
    floods = [("one message", b":SENS1:FREQ?;" * 75000 + b"\n"),
              ("many lines", b":SENS1:FREQ?\n" * 80000),
              ("calibration rows", b":CAL:PATH1:PORT1:ROW1?\n" * 45000)]
    try:
        time.sleep(0.2)
        base_kb = sim.status().get("VmRSS", 0)
        problems = []
        for what, flood in floods:
            a = ScpiClient(sim.socket_port, timeout=10)
            a.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)  # and never read
            sender = threading.Thread(target=lambda: _quietly(lambda: a.send(flood)), daemon=True)
            sender.start()
            time.sleep(0.3)
            dt = idn_within(sim.socket_port, 2.0)
            if dt is None:
                problems.append("%s: no *IDN? answer for another client within 2 s" % what)
            else:
                ctx.m.time(dt)
            time.sleep(1.5)
            a.close()
            sender.join(10)
            time.sleep(0.2)
        growth = (sim.w.peak_kb - base_kb) / 1024.0
        ctx.m.memory(sim.w.peak_mb())
        require(sim.alive(), "the simulator died")
        problems += ["RSS grew by %.0f MB (limit 64 MB)" % growth] if growth >= 64 else []
        require(not problems, "; ".join(problems))
        ctx.m.note("RSS growth %.1f MB; *IDN? answered meanwhile" % growth)
    finally:
        sim.end()


@case("compound-answers", "one line asking 2000 traces (socket), 1 MB of calibration-row queries (VXI-11)")
def compound_answers(ctx):
    sim = ctx.sim()
    problems = []
    try:
        time.sleep(0.2)
        base_kb = sim.status().get("VmRSS", 0)
        c = ScpiClient(sim.socket_port, timeout=10)
        try:
            c.send(":SENS1:SAMP:DIVF 250;:SENS1:SAMP:COUNT 200000;*CLS;:INIT:IMM;*OPC")
            c.query("*OPC?", timeout=10)
            c.send(":SENS1:TRAC:DATA?;" * 2000 + "*IDN?")
            errors = c.query("SYST:ERR?", timeout=30)  # the compound response never came: this is the next answer
            if "-350" not in errors:
                problems.append("socket: the queue says %r, not -350" % short(errors, 60))
        finally:
            c.close()
        v = rpc.Vxi11Client("127.0.0.1", sim.core_port, timeout=30)
        try:
            v.create_link(b"inst0")
            flood = b":CAL:PATH1:PORT1:ROW1?;" * (1000000 // 23) + b"*IDN?\n"
            err, _ = v.write(flood, 20000)
            if err:
                problems.append("VXI-11: the write of 1 MB failed with error %d" % err)
            answer, err = v.query(b"SYST:ERR?\n", 20000)
            if err or b"-350" not in (answer or b""):
                problems.append("VXI-11: the queue says %r (error %d), not -350" % (short((answer or b"").decode("latin-1"), 60), err))
        finally:
            v.close()
        dt = idn_within(sim.socket_port, 2.0)
        if dt is None:
            problems.append("no *IDN? answer afterwards")
        growth = (sim.w.peak_kb - base_kb) / 1024.0
        ctx.m.memory(sim.w.peak_mb())
        require(sim.alive(), "the simulator died")
        problems += ["RSS grew by %.0f MB (limit 64 MB)" % growth] if growth >= 64 else []
        require(not problems, "; ".join(problems))
        ctx.m.note("both refused with -350; RSS growth %.1f MB" % growth)
    finally:
        sim.end()


NAN_INPUTS = [
    "SENS1:CORR:ATT NAN",
    "SUMP:CORR:BFG nan",
    "SENS1:CORR:GAIN -nan",
    "SENS1:FREQ inf",
    "SENS2:VID:MIN nan(0x1)",
    "CONF:PORT1:ATT NaN",
    "CONF:TRIG:OUTP1 nan",
    "CONF:PART1 NAN",
    "SENS1:TRIG4:SET NAN,NAN,0",
    "SENS1:BURS:SEAR NAN;SENS1:SAMP:PREC nan;SENS1:SAMP:COUNT nan;INIT:IMM;SENS1:BURS:INIT",
    "SUMP:BURS:SEAR -NAN;INIT:IMM;SUMP:BURS:INIT",
]


@case("nan-settings", "NaN and infinite settings do not crash the simulator and queue -222")
def nan_settings(ctx):
    sim = ctx.sim(vxi11=False)
    try:
        c = ScpiClient(sim.socket_port)
        missing = []
        try:
            c.query(":SYSTEM:ERR:ALL?")  # empty the queue
            for text in NAN_INPUTS:
                c.send(text)
                errors = c.query(":SYSTEM:ERR:ALL?")
                if "-222" not in errors:
                    missing.append("%s -> %s" % (text, short(errors, 50)))
            c.send("*CLS;:INIT:IMM;*OPC")
            time.sleep(0.3)
            c.query("*ESR?")
            for q in (":SENS1:BURS:COUN?", ":SUMP:RMS?", ":SENS1:TRAC:MAX?"):
                c.query(q)
            idn = c.query("*IDN?")
        except (socket.timeout, ConnectionError) as e:
            raise Failed("the simulator stopped answering (%s); alive: %s" % (e, sim.alive()))
        finally:
            c.close()
        ctx.m.memory(sim.w.peak_mb())
        require(sim.alive(), "the simulator died")
        require("Zentrix8" in idn, "*IDN? afterwards: %r" % idn)
        require(not missing, "no -222 for: " + "; ".join(missing))
        ctx.m.note("%d inputs, each queued -222; still answering" % len(NAN_INPUTS))
    finally:
        sim.end()


def open_many(port, count, wait=2.0, pace=0.003):
    """count connections, one every pace seconds (a listen queue that overflows would only
    delay them, and a server that takes them as they come must see them all); those
    established within wait seconds, and all sockets."""
    socks = []
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        rc = s.connect_ex(("127.0.0.1", port))
        if rc not in (0, errno.EINPROGRESS):
            s.close()
            continue
        socks.append(s)
        time.sleep(pace)
    pending = list(socks)
    established = 0
    deadline = time.monotonic() + wait
    while pending and time.monotonic() < deadline:
        _, w, _ = select.select([], pending, [], max(0.0, deadline - time.monotonic()))
        for s in w:
            pending.remove(s)
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                established += 1
    return established, socks


def close_all(socks):
    for s in socks:
        try:
            s.close()
        except OSError:
            pass


def sim_option(sim_path, name):
    try:
        text = subprocess.run([sim_path, "--help"], capture_output=True, text=True, timeout=5).stdout
    except (OSError, subprocess.TimeoutExpired):
        return False
    return name in text


@case("connection-cap", "300 socket connections: the simulator lives, <= 100 threads, answers afterwards")
def connection_cap(ctx):
    option = "--max-clients" if sim_option(ctx.sim_path, "--max-clients") else None
    sim = ctx.sim()
    socks = []
    try:
        established, socks = open_many(sim.socket_port, 300)
        time.sleep(1.0)
        threads = sim.w.peak_threads
        alive = sim.alive()
        close_all(socks)
        socks = []
        dt = idn_within(sim.socket_port, 3.0)
        ctx.m.memory(sim.w.peak_mb())
        ctx.m.time(dt or 3.0)
        require(alive and sim.alive(), "the simulator died with 300 connections")
        require(sim.w.peak_threads <= 100, "%d threads with %d connections (limit 100)" % (sim.w.peak_threads, established))
        require(dt is not None, "no *IDN? answer for a fresh client within 3 s after the others closed")
        ctx.m.note("%d of 300 connected, at most %d threads; *IDN? afterwards in %.2f s%s" % (
            established, threads, dt, "" if option else " (no --max-clients option yet)"))
    finally:
        close_all(socks)
        sim.end()


@case("emfile", "RLIMIT_NOFILE 64 and 100 connections: < 0.5 s CPU in 2 s, answers afterwards")
def emfile(ctx):
    sim = ctx.sim(nofile=64)
    socks = []
    try:
        established, socks = open_many(sim.socket_port, 100)
        time.sleep(0.5)
        c0 = cpu_seconds(sim.pid)
        time.sleep(2.0)
        c1 = cpu_seconds(sim.pid)
        try:
            fds = len(os.listdir("/proc/%d/fd" % sim.pid))
        except OSError:
            fds = -1
        alive = sim.alive()
        close_all(socks)
        socks = []
        dt = idn_within(sim.socket_port, 3.0)
        ctx.m.memory(sim.w.peak_mb())
        ctx.m.time(dt or 3.0)
        require(alive and c0 is not None and c1 is not None, "the simulator died at its descriptor limit")
        used = c1 - c0
        require(used < 0.5, "%.2f s of CPU time in 2 s with %d connections at the descriptor limit (busy loop)" % (used, established))
        require(dt is not None, "no *IDN? answer within 3 s after the connections closed")
        ctx.m.note("%d of 100 connected, %d descriptors open, %.2f s CPU in 2 s; *IDN? afterwards in %.2f s"
                   % (established, fds, used, dt))
    finally:
        close_all(socks)
        sim.end()


@case("sigterm-dribble", "a VXI-11 client dribbles empty fragments every 2 s; SIGTERM ends the simulator within 1.5 s")
def sigterm_dribble(ctx):
    sim = ctx.sim()
    stop = threading.Event()
    s = socket.create_connection(("127.0.0.1", sim.core_port), timeout=2)

    def dribble():
        while not stop.is_set():
            try:
                s.sendall(rpc.fragment(b"", last=False))
            except OSError:
                return
            stop.wait(2.0)

    t = threading.Thread(target=dribble, daemon=True)
    try:
        t.start()
        time.sleep(1.0)
        require(sim.alive(), "the simulator died from the dribble")
        t0 = time.monotonic()
        sim.w.signal(signal.SIGTERM)
        rc = sim.w.wait(5.0)
        dt = time.monotonic() - t0
        ctx.m.time(dt)
        ctx.m.memory(sim.w.peak_mb())
        require(rc is not None, "still running %.1f s after SIGTERM" % dt)
        require(dt <= 1.5, "SIGTERM took %.2f s (limit 1.5 s)" % dt)
        require(rc == 0, "ended with status %d on SIGTERM" % rc)
        ctx.m.note("ended %.2f s after SIGTERM" % dt)
    finally:
        stop.set()
        s.close()
        t.join(3)
        sim.end()


def rpc_exchange_tcp(port, payload, timeout=2.0):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        s.sendall(rpc.record(payload))
        return rpc.read_record(s, time.monotonic() + timeout)
    finally:
        s.close()


def refused(reply, xid):
    """'' when the reply turns the call down as it should, else what it said."""
    rxid, reply_stat, stat, r = rpc.parse_reply(reply)
    if rxid != xid:
        return "a reply with xid %d" % rxid
    if reply_stat == rpc.MSG_DENIED or stat == rpc.GARBAGE_ARGS:
        return ""
    if stat == rpc.SUCCESS:
        try:
            return "success, port %d" % r.u32()
        except rpc.RpcError:
            return "success without a port"
    return "accept_stat %d" % stat


@case("getport-noargs", "GETPORT without arguments is GARBAGE_ARGS; create_link of '' or a name with NUL fails")
def getport_noargs(ctx):
    sim = ctx.sim(socket_port=False)
    problems = []
    try:
        require(rpc.getport("127.0.0.1", sim.pm_port, rpc.DEVICE_CORE, 1) == sim.core_port, "GETPORT control failed")
        calls = [("no arguments", b""), ("only the program", rpc.u32(rpc.DEVICE_CORE))]
        for n, (what, args) in enumerate(calls, start=7):
            payload = rpc.call_header(n, rpc.PORTMAPPER, rpc.PORTMAPPER_V2, rpc.PMAP_GETPORT) + args
            try:
                said = refused(rpc_exchange_tcp(sim.pm_port, payload), n)
            except (OSError, rpc.RpcError) as e:
                said = "no reply (%s)" % e
            if said:
                problems.append("GETPORT over TCP with %s: %s" % (what, said))
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            u.settimeout(2.0)
            u.sendto(rpc.call_header(9, rpc.PORTMAPPER, rpc.PORTMAPPER_V2, rpc.PMAP_GETPORT), ("127.0.0.1", sim.pm_port))
            said = refused(u.recv(1500), 9)
        except (OSError, rpc.RpcError) as e:
            said = "no reply (%s)" % e
        finally:
            u.close()
        if said:
            problems.append("GETPORT over UDP with no arguments: %s" % said)
        for what, name in (("inst0 (control)", b"inst0"), ("an empty name", b""), ("a name with NUL", b"inst0\0evil")):
            c = rpc.Vxi11Client("127.0.0.1", sim.core_port)
            try:
                err = c.create_link(name)[0]
            except (OSError, rpc.RpcError) as e:
                err = "no reply (%s)" % e
            finally:
                c.close()
            if name == b"inst0":
                require(err == 0, "create_link of inst0 failed: %s" % err)
            elif err == 0:
                problems.append("create_link with %s succeeded" % what)
        ctx.m.memory(sim.w.peak_mb())
        require(sim.alive(), "the simulator died")
        require(not problems, "; ".join(problems))
        ctx.m.note("GETPORT garbage refused over TCP and UDP; create_link of '' and 'inst0\\0evil' refused")
    finally:
        sim.end()


def abort_link(port, lid):
    """device_abort on the abort channel: the link's waiting call ends with error 23."""
    s = socket.create_connection(("127.0.0.1", port), timeout=2)
    try:
        reply_stat, stat, r = rpc.rpc_call(s, 1, rpc.DEVICE_ASYNC, rpc.VXI11_VERSION, rpc.DEVICE_ABORT, rpc.i32(lid), 2.0)
        return r.i32() if reply_stat == rpc.MSG_ACCEPTED and stat == rpc.SUCCESS else None
    finally:
        s.close()


def timed(fn):
    t0 = time.monotonic()
    result = fn()
    return result, time.monotonic() - t0


@case("lock-silent", "a client locks and falls silent: others are refused or wait their lock time-out, "
                     "an abort ends a wait, the idle time-out (2 s) frees the unit")
def lock_silent(ctx):
    sim = ctx.sim("--idle-timeout", "2")
    clients = []
    try:
        holder = rpc.Vxi11Client("127.0.0.1", sim.core_port)
        clients.append(holder)
        require(holder.create_link()[0] == 0 and holder.lock(0) == 0, "the first station could not lock the unit")
        silent_since = time.monotonic()
        other = rpc.Vxi11Client("127.0.0.1", sim.core_port, timeout=15)
        clients.append(other)
        err, lid, abort_port, _ = other.create_link()
        require(err == 0, "create_link failed with %d" % err)
        (err, _), dt = timed(lambda: other.write(b"*IDN?\n"))
        require(err == rpc.DEVICE_LOCKED_BY_ANOTHER_LINK and dt < 0.5,
                "a write without waitlock: error %d after %.2f s (11 at once expected)" % (err, dt))
        (err, _), dt = timed(lambda: other.write(b"*IDN?\n", lock_timeout_ms=400))
        require(err == rpc.DEVICE_LOCKED_BY_ANOTHER_LINK and 0.38 <= dt < 1.2,
                "a write waiting 400 ms for the lock: error %d after %.2f s" % (err, dt))
        err, dt = timed(lambda: other.lock(400))
        require(err == rpc.DEVICE_LOCKED_BY_ANOTHER_LINK and 0.38 <= dt < 1.2,
                "a lock request waiting 400 ms: error %d after %.2f s" % (err, dt))
        result = {}
        waiter = threading.Thread(target=lambda: result.update(err=other.lock(10000)), daemon=True)
        t0 = time.monotonic()
        waiter.start()
        time.sleep(0.2)
        require(abort_link(abort_port, lid) == 0, "device_abort was not accepted")
        waiter.join(3)
        dt = time.monotonic() - t0
        require(result.get("err") == rpc.ABORTED and dt < 1.0,
                "an aborted lock request ended with %r after %.2f s (23 at once expected)" % (result.get("err"), dt))
        # A raw-socket client cannot lock: it waits, and is answered once the silent holder is dropped.
        c = ScpiClient(sim.socket_port, timeout=5)
        clients.append(c)
        answer = c.query("*IDN?", timeout=5)
        freed = time.monotonic() - silent_since
        require("Zentrix8" in answer, "the socket client got %r" % short(answer))
        require(1.8 <= freed <= 3.5, "the unit was free %.2f s after its holder fell silent (idle time-out 2 s)" % freed)
        require(other.lock(0, wait=False) == 0, "the unit stayed locked after its holder was dropped")
        ctx.m.time(freed)
        ctx.m.memory(sim.w.peak_mb())
        ctx.m.note("refused at once, waits of 400 ms kept, abort ended a wait, free %.2f s after the holder fell silent"
                   % freed)
    finally:
        for c in clients:
            c.close()
        sim.end()


@case("lock-flood", "30 lock requests wait on a held lock (CPU bounded), then 16 stations lock, set, read back "
                    "and unlock 30 times each: one holder at a time")
def lock_flood(ctx, waiting=30, stations=16, rounds=30):
    sim = ctx.sim()
    clients = []

    def link():
        c = rpc.Vxi11Client("127.0.0.1", sim.core_port, timeout=20)
        clients.append(c)
        require(c.create_link()[0] == 0, "create_link failed")
        return c

    try:
        holder = link()
        require(holder.lock(0) == 0, "the first lock was refused")
        waiters = [link() for _ in range(waiting)]
        got = []

        def wait_and_release(c):
            err = c.lock(15000)
            got.append(err)
            if err == 0:
                c.unlock()

        threads = [threading.Thread(target=wait_and_release, args=(c,), daemon=True) for c in waiters]
        for t in threads:
            t.start()
        time.sleep(0.3)
        c0 = cpu_seconds(sim.pid)
        time.sleep(2.0)
        c1 = cpu_seconds(sim.pid)
        require(c0 is not None and c1 is not None, "the simulator died under %d waiting lock requests" % waiting)
        used = c1 - c0
        require(used < 0.5, "%.2f s of CPU time in 2 s with %d lock requests waiting" % (used, waiting))
        require(not got, "a lock request was granted while the lock was held: %r" % got)
        t0 = time.monotonic()
        holder.unlock()
        for t in threads:
            t.join(10)
        handed = time.monotonic() - t0
        require(got.count(0) == waiting, "of %d waiting requests, %d got the lock (%r)" % (waiting, got.count(0), got[:5]))

        tally = Tally()

        def station(i, barrier, tally):
            c = link()
            try:
                barrier.wait(10)
                for r in range(rounds):
                    value = 1000000000 + (i * 1000 + r + 1) * 1000  # within the sensor's range
                    if c.lock(10000) != 0:
                        tally.problem("lost", "station %d: a lock request timed out" % i)
                        continue
                    c.write(b":SENS1:FREQ %d\n" % value)
                    answer, err = c.query(b":SENS1:FREQ?\n")
                    c.unlock()
                    if err or int(float(answer)) != value:
                        tally.problem("wrong", "station %d read %r back for %d" % (i, answer, value))
                    else:
                        tally.ok()
            except (OSError, rpc.RpcError, ValueError, threading.BrokenBarrierError) as e:
                tally.problem("errors", "station %d: %s" % (i, e))

        tally, seconds = run_clients(stations, station)
        summary = "%d stations x %d locked rounds: %d kept, %d broken into, %d lost, %d failed" % (
            stations, rounds, tally.right, tally.wrong, tally.lost, tally.errors)
        require(tally.right == stations * rounds, summary + "; first: " + (tally.first or "?"))
        for c in clients:
            c.close()
        clients = []
        dt = idn_within(sim.socket_port, 2.0)
        require(dt is not None, "no *IDN? answer within 2 s after the flood")
        ctx.m.time(seconds)
        ctx.m.memory(sim.w.peak_mb())
        ctx.m.note("%d waiting: %.2f s CPU in 2 s, all served %.2f s after the release; %s" % (
            waiting, used, handed, summary))
    finally:
        for c in clients:
            c.close()
        sim.end()
