"""Children of the fault suite: started in a session of their own, sampled
while they run (memory, threads, CPU time), and always ended.

Every process started here is registered; end_all() kills what is still
running, by process id, when the suite stops.
"""

import os
import re
import signal
import subprocess
import threading
import time

PAGE_TICKS = os.sysconf("SC_CLK_TCK")
_running = []
_running_lock = threading.Lock()


def read_status(pid):
    """VmHWM, VmRSS (kB) and Threads from /proc/<pid>/status, or None when gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            text = f.read()
    except OSError:
        return None
    out = {}
    for key in ("VmHWM", "VmRSS", "Threads", "State"):
        m = re.search(r"^%s:\s*(\S+)" % key, text, re.M)
        if m:
            out[key] = m.group(1) if key == "State" else int(m.group(1))
    return out


def cpu_seconds(pid):
    """utime + stime of a process, in seconds; None when gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return None
    fields = text[text.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / PAGE_TICKS


class Watched:
    """A child whose peak memory and thread count are sampled every few ms.

    A child whose resident memory passes mem_limit_mb is killed (and
    killed_for_memory is set), so that a runaway never hurts the machine.
    """

    def __init__(self, argv, *, cwd=None, env=None, stdin=subprocess.DEVNULL, out_path=None, err_path=None,
                 preexec_fn=None, umask=-1, mem_limit_mb=1024, interval=0.005):
        self.argv = argv
        self.out_path, self.err_path = out_path, err_path
        self._out = open(out_path, "wb") if out_path else subprocess.DEVNULL
        self._err = open(err_path, "wb") if err_path else subprocess.DEVNULL
        self.started = time.monotonic()
        self.proc = subprocess.Popen(argv, cwd=cwd, env=env, stdin=stdin, stdout=self._out, stderr=self._err,
                                     preexec_fn=preexec_fn, umask=umask, start_new_session=True)
        self.pid = self.proc.pid
        self.peak_kb = 0
        self.peak_threads = 0
        self.samples = 0
        self.rss_kb = 0
        self.killed_for_memory = False
        self.mem_limit_kb = mem_limit_mb * 1024
        self.ended = None
        self.returncode = None
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._interval = interval
        with _running_lock:
            _running.append(self)
        self._sampler = threading.Thread(target=self._sample, daemon=True)
        self._sampler.start()

    def sample(self):
        """Takes one sample; False once the process is gone (or killed for its memory)."""
        st = read_status(self.pid)
        if st is None or st.get("State") == "Z" or "VmHWM" not in st:
            return False
        with self._lock:
            self.samples += 1
            self.rss_kb = st.get("VmRSS", 0)
            self.peak_kb = max(self.peak_kb, st.get("VmHWM", 0), self.rss_kb)
            self.peak_threads = max(self.peak_threads, st.get("Threads", 0))
        if self.rss_kb > self.mem_limit_kb:
            self.killed_for_memory = True
            self._signal(signal.SIGKILL)
            return False
        return True

    def _sample(self):
        while not self._stop.is_set() and self.returncode is None:
            if not self.sample():
                break
            # Closely at first: a short run is over within milliseconds.
            early = time.monotonic() - self.started < 0.2
            self._stop.wait(min(self._interval, 0.001) if early else self._interval)

    def _signal(self, sig):
        if self.returncode is None:
            try:
                os.kill(self.pid, sig)
            except ProcessLookupError:
                pass

    def poll(self):
        """The exit status once the child has ended (negative: killed by that signal), else None."""
        if self.returncode is not None:
            return self.returncode
        try:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
        except ChildProcessError:
            pid, status = self.pid, 0
        if pid == 0:
            return None
        self.ended = time.monotonic()
        # ru_maxrss is not used: it counts the forked parent's memory from before the exec.
        self.returncode = os.waitstatus_to_exitcode(status)
        self.proc.returncode = self.returncode  # reaped here, not by Popen
        self._finish()
        return self.returncode

    def wait(self, timeout):
        """Waits up to timeout seconds; the exit status or None when still running."""
        deadline = time.monotonic() + timeout
        while True:
            if self.returncode is None:
                self.sample()  # here too, so that even a run of a few milliseconds is measured
            rc = self.poll()
            if rc is not None or time.monotonic() >= deadline:
                return rc
            time.sleep(0.001 if time.monotonic() - self.started < 0.2 else 0.005)

    def elapsed(self):
        return (self.ended or time.monotonic()) - self.started

    def peak_mb(self):
        """The highest resident memory seen, in MB; None when the process ended before the first sample."""
        with self._lock:
            return self.peak_kb / 1024.0 if self.samples else None

    def signal(self, sig):
        self._signal(sig)

    def kill(self):
        self._signal(signal.SIGKILL)
        self.wait(5)

    def end(self, grace=2.0):
        """SIGTERM, then SIGKILL after grace seconds."""
        if self.poll() is None:
            self._signal(signal.SIGTERM)
            if self.wait(grace) is None:
                self.kill()

    def _finish(self):
        self._stop.set()
        for f in (self._out, self._err):
            if hasattr(f, "close"):
                f.close()
        with _running_lock:
            if self in _running:
                _running.remove(self)

    def stdout(self, limit=1 << 20):
        return _read(self.out_path, limit)

    def stderr(self, limit=1 << 20):
        return _read(self.err_path, limit)


def _read(path, limit):
    if not path:
        return ""
    try:
        with open(path, "rb") as f:
            return f.read(limit).decode("utf-8", "replace")
    except OSError:
        return ""


def end_all():
    with _running_lock:
        left = list(_running)
    for w in left:
        w.kill()
