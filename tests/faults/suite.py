"""The fault suite's frame: the case registry, outcomes, and what every case
needs: a temporary folder, a configuration file, runs of quorvel, a
simulator on ephemeral ports and a raw SCPI client.
"""

import os
import re
import resource
import socket
import time

from procs import Watched

CASES = []


class Failed(Exception):
    """The case found the misbehaviour it looks for."""


class Skipped(Exception):
    pass


class Outcome:
    def __init__(self, outcome, seconds=None, peak_mb=None, note=""):
        self.outcome, self.seconds, self.peak_mb, self.note = outcome, seconds, peak_mb, note


class Measure:
    """What a case reports besides its verdict: the time to detect and the peak memory."""

    def __init__(self):
        self.seconds = None
        self.peak_mb = None
        self.notes = []

    def time(self, seconds):
        self.seconds = seconds if self.seconds is None else max(self.seconds, seconds)

    def memory(self, mb):
        if mb is not None:
            self.peak_mb = mb if self.peak_mb is None else max(self.peak_mb, mb)

    def note(self, text):
        self.notes.append(text)


def case(name, summary):
    def register(fn):
        CASES.append((name, summary, fn))
        return fn
    return register


def require(condition, message):
    if not condition:
        raise Failed(message)


def each(*steps):
    """Runs every step, even after one failed; fails with all their complaints."""
    problems = []
    for step in steps:
        try:
            step()
        except Failed as e:
            problems.append(str(e))
    require(not problems, "; ".join(problems))


class Ctx:
    """One case's surroundings; everything it makes lives under tmp."""

    def __init__(self, quorvel, sim, tmp, measure):
        self.quorvel_path = quorvel
        self.sim_path = sim
        self.tmp = tmp
        self.m = measure
        self._n = 0
        self.env = dict(os.environ)
        # Nothing of a run may land in the real home directory.
        for k in ("QUORVEL_CONFIG", "QUORVEL_COM_REGISTRY"):
            self.env.pop(k, None)
        self.env["HOME"] = os.path.join(tmp, "home")
        self.env["XDG_CONFIG_HOME"] = os.path.join(tmp, "home", ".config")
        self.env["XDG_DATA_HOME"] = os.path.join(tmp, "home", ".local", "share")
        os.makedirs(self.env["HOME"], exist_ok=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def unique(self, stem):
        self._n += 1
        return self.path("%s-%d" % (stem, self._n))

    def config(self, timeout_ms=None, extra="", timeout_text=None):
        """An INI with [Host] DataFolder under tmp and one device entry Zentrix8."""
        data = self.path("data")
        text = "[Host]\nDataFolder = %s\n\n[Zentrix8]\n" % data
        if timeout_text is not None:
            text += "Timeout = %s\n" % timeout_text
        elif timeout_ms is not None:
            text += "Timeout = %d\n" % timeout_ms
        text += extra
        p = self.unique("quorvel") + ".ini"
        with open(p, "w") as f:
            f.write(text)
        return p

    def quorvel(self, args, bound, *, config=None, cwd=None, umask=0o022, mem_limit_mb=1024, start=True):
        """Runs quorvel; killed when still running after bound seconds."""
        stem = self.unique("quorvel-run")
        argv = [self.quorvel_path] + (["--config", config] if config else []) + list(args)
        w = Watched(argv, cwd=cwd or self.tmp, env=self.env, out_path=stem + ".out", err_path=stem + ".err",
                    umask=umask, mem_limit_mb=mem_limit_mb)
        return Run(w, bound, self.tmp) if start else w

    def sim(self, *extra, socket_port=True, vxi11=True, portmapper=True, nofile=None, host_port_pm=None):
        return Sim(self, list(extra), socket_port, vxi11, portmapper, nofile, host_port_pm)


class Run:
    """A finished (or killed) run of quorvel."""

    def __init__(self, watched, bound, tmp=None):
        self.w = watched
        self.tmp = tmp
        rc = watched.wait(bound)
        self.timed_out = rc is None
        if self.timed_out:
            watched.kill()
        self.rc = watched.returncode
        self.seconds = watched.elapsed()
        self.peak_mb = watched.peak_mb()
        self.killed_for_memory = watched.killed_for_memory
        self.peak_or_zero = self.peak_mb or 0.0  # a run too short to sample took next to nothing
        self.out = watched.stdout()
        self.err = watched.stderr()

    def describe(self):
        if self.killed_for_memory:
            return "killed at %.0f MB resident after %.1f s" % (self.peak_or_zero, self.seconds)
        if self.timed_out:
            return "still running after %.1f s (killed)" % self.seconds
        if self.rc < 0:
            return "ended by signal %d" % -self.rc
        return "exit %d" % self.rc

    def last_err_line(self):
        lines = [l.strip() for l in self.err.splitlines() if l.strip()]
        if not lines:
            return "(nothing on stderr)"
        return short(lines[-1].replace(self.tmp + "/", "") if self.tmp else lines[-1])


def short(text, n=90):
    text = " ".join(text.split())
    return text if len(text) <= n else text[:n - 3] + "..."


class Sim:
    """zentrix8-sim on ephemeral ports of 127.0.0.1, sampled for memory, threads and CPU time."""

    def __init__(self, ctx, extra, socket_port, vxi11, portmapper, nofile, pm_port):
        stem = ctx.unique("sim")
        argv = [ctx.sim_path,
                "--socket-port", "0" if socket_port else "-1",
                "--vxi11-port", "0" if vxi11 else "-1",
                "--portmapper-port", str(pm_port) if pm_port is not None else ("0" if portmapper else "-1")] + extra

        def limits():
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))

        self.w = Watched(argv, cwd=ctx.tmp, env=ctx.env, out_path=stem + ".out", err_path=stem + ".err",
                         preexec_fn=limits if nofile else None, mem_limit_mb=2048, interval=0.005)
        self.pid = self.w.pid
        self.socket_port = self.core_port = self.pm_port = None
        deadline = time.monotonic() + 5
        banner = ""
        while time.monotonic() < deadline:
            banner = self.w.stdout()
            if "serving" in banner and banner.endswith("\n"):
                break
            if self.w.poll() is not None:
                raise Failed("zentrix8-sim did not start: " + short(self.w.stderr()))
            time.sleep(0.01)
        else:
            self.w.kill()
            raise Failed("zentrix8-sim printed no banner within 5 s")
        m = re.search(r"TCPIP::[\d.]+::(\d+)::SOCKET", banner)
        self.socket_port = int(m.group(1)) if m else None
        m = re.search(r"TCPIP::[\d.]+,(\d+)::inst0::INSTR", banner)
        self.core_port = int(m.group(1)) if m else None
        m = re.search(r"portmapper on (\d+)", banner)
        self.pm_port = int(m.group(1)) if m else None

    def alive(self):
        return self.w.poll() is None

    def status(self):
        from procs import read_status
        return read_status(self.pid) or {}

    def end(self):
        self.w.end(3)


class ScpiClient:
    """A raw SCPI socket client: lines out, lines in."""

    def __init__(self, port, timeout=2.0):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""

    def send(self, text):
        self.sock.sendall(text if isinstance(text, bytes) else text.encode() + b"\n")

    def readline(self, timeout=2.0):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buf:
            left = deadline - time.monotonic()
            if left <= 0:
                raise socket.timeout("no answer within %.1f s" % timeout)
            self.sock.settimeout(left)
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise ConnectionError("the simulator closed the connection")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode("latin-1")

    def query(self, text, timeout=2.0):
        self.send(text)
        return self.readline(timeout)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)  # wakes a thread still sending on it
        except OSError:
            pass
        try:
            self.sock.close()
        except OSError:
            pass


def idn_within(port, seconds):
    """Seconds until a fresh socket client got a *IDN? answer naming Zentrix8, or None."""
    t0 = time.monotonic()
    deadline = t0 + seconds
    while time.monotonic() < deadline:
        c = None
        try:
            c = ScpiClient(port, timeout=max(0.1, deadline - time.monotonic()))
            if "Zentrix8" in c.query("*IDN?", timeout=max(0.1, deadline - time.monotonic())):
                return time.monotonic() - t0
        except OSError:
            time.sleep(0.05)
        finally:
            if c:
                c.close()
    return None
