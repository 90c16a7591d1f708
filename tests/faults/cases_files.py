"""quorvel and the files it is pointed at: CSV output that follows symbolic
links and keeps FIFOs and devices as they are, configuration files that are
not files (or far too large), firmware paths that are not regular files, and
data sets written by two runs at once.

Nothing outside the case's temporary folder is ever written: the character
device case makes a device node of its own there (root only) and never
names /dev/null.
"""

import glob
import os
import select
import stat
import threading
import time

from suite import Run, case, require, short

CSV_HEAD = "burst,start_ms,on_time_ms,level_dBm,strongest"


def burst_search_csv(ctx, target, bound=20):
    return ctx.quorvel(["burst-search", "--csv", target], bound, config=ctx.config())


@case("csv-symlink", "--csv LINK (a symbolic link to a file): LINK stays a link, its target gets the CSV")
def csv_symlink(ctx):
    target = ctx.path("real.csv")
    with open(target, "w") as f:
        f.write("old contents\n")
    link = ctx.path("link.csv")
    os.symlink("real.csv", link)
    run = burst_search_csv(ctx, "link.csv")
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(run.rc == 0, "burst-search --csv: %s: %s" % (run.describe(), run.last_err_line()))
    require(os.path.islink(link), "link.csv is no longer a symbolic link (now %s)" % kind(link))
    with open(target) as f:
        text = f.read()
    require(text.startswith(CSV_HEAD), "the link's target holds %r, not the CSV" % short(text, 30))
    ctx.m.note("link kept, target holds %d CSV lines" % len(text.splitlines()))


def kind(path):
    try:
        m = os.lstat(path).st_mode
    except OSError:
        return "missing"
    for test, name in ((stat.S_ISLNK, "a symbolic link"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a character device"),
                       (stat.S_ISREG, "a regular file"), (stat.S_ISDIR, "a directory")):
        if test(m):
            return name
    return "something else"


class FifoReader:
    """Reads a FIFO until its writer closes it (or the deadline passes), without ever blocking."""

    def __init__(self, path, seconds):
        self.data = b""
        self.fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        self.deadline = time.monotonic() + seconds
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            while time.monotonic() < self.deadline:
                r, _, _ = select.select([self.fd], [], [], 0.05)
                if not r:
                    continue
                chunk = os.read(self.fd, 1 << 16)
                if chunk:
                    self.data += chunk
                elif self.data:
                    return  # the writer closed after writing
                else:
                    time.sleep(0.01)  # no writer yet
        finally:
            os.close(self.fd)

    def join(self):
        self.thread.join(max(0.0, self.deadline - time.monotonic()) + 1)


@case("csv-fifo", "--csv FIFO keeps the FIFO and feeds its reader; --csv - writes to stdout; a device stays a device")
def csv_fifo(ctx):
    problems = []
    fifo = ctx.path("pipe.csv")
    os.mkfifo(fifo)
    reader = FifoReader(fifo, 25)
    run = burst_search_csv(ctx, "pipe.csv")
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    if run.rc != 0:
        problems.append("--csv FIFO: %s: %s" % (run.describe(), run.last_err_line()))
    if not os.path.lexists(fifo) or not stat.S_ISFIFO(os.lstat(fifo).st_mode):
        problems.append("the FIFO was replaced by %s" % kind(fifo))
    # The run is over: whatever it wrote is in the FIFO by now.
    reader.deadline = min(reader.deadline, time.monotonic() + 1.0)
    reader.join()
    if not reader.data.decode("latin-1").startswith(CSV_HEAD):
        problems.append("the FIFO's reader got %r" % short(reader.data.decode("latin-1"), 30))

    run = burst_search_csv(ctx, "-")
    ctx.m.memory(run.peak_mb)
    if run.rc != 0:
        problems.append("--csv -: %s: %s" % (run.describe(), run.last_err_line()))
    elif CSV_HEAD not in run.out:
        problems.append("--csv -: no CSV on stdout")
    if os.path.lexists(ctx.path("-")):
        problems.append("--csv - made a file named '-'")

    device = ctx.path("null-device")
    try:
        os.mknod(device, 0o666 | stat.S_IFCHR, os.makedev(1, 3))  # our own node of the null device
    except OSError:
        device = None
        ctx.m.note("device part skipped (no mknod here)")
    if device:
        run = burst_search_csv(ctx, device)
        ctx.m.memory(run.peak_mb)
        if run.rc != 0:
            problems.append("--csv DEVICE: %s: %s" % (run.describe(), run.last_err_line()))
        if not stat.S_ISCHR(os.lstat(device).st_mode):
            problems.append("the character device was replaced by %s" % kind(device))
    require(not problems, "; ".join(problems))
    ctx.m.note("FIFO kept and read (%d bytes); stdout and device fine" % len(reader.data))


@case("config-zero", "--config /dev/zero, a 107 MB file, a directory, a missing file: refused quickly, < 100 MB")
def config_zero(ctx):
    big = ctx.path("big.ini")
    with open(big, "w") as f:
        f.write("[Host]\nDataFolder = %s\n\n[Zentrix8]\n" % ctx.path("data"))
        line = "; " + "padding " * 12 + "\n"
        block = line * 10000
        while f.tell() < 107 * 1000 * 1000:
            f.write(block)
    folder = ctx.path("config-dir")
    os.mkdir(folder)
    problems = []
    for what, path in (("/dev/zero", "/dev/zero"), ("a 107 MB file", big), ("a directory", folder),
                       ("a missing file", ctx.path("missing.ini"))):
        run = ctx.quorvel(["info"], 3.0, config=path, mem_limit_mb=400)
        ctx.m.time(run.seconds)
        ctx.m.memory(run.peak_mb)
        if run.timed_out or run.killed_for_memory or run.rc is None or run.rc <= 0 or run.rc >= 128:
            problems.append("%s: %s" % (what, run.describe() if run.rc != 0 else "exit 0, accepted"))
        elif path not in run.err and os.path.basename(path) not in run.err:
            problems.append("%s: exit %d without naming the file: %s" % (what, run.rc, run.last_err_line()))
        elif run.peak_or_zero >= 100:
            problems.append("%s: peak memory %.0f MB (limit 100 MB)" % (what, run.peak_or_zero))
        else:
            ctx.m.note("%s: exit %d, %s" % (what, run.rc, run.last_err_line()))
    os.unlink(big)
    require(not problems, "; ".join(problems))


@case("config-many-sections", "a configuration of 90 000 sections (within the 1 MiB a configuration may be): read in time")
def config_many_sections(ctx):
    path = ctx.path("many.ini")
    with open(path, "w") as f:
        f.write("[Host]\nDataFolder = %s\n" % ctx.path("data"))
        for i in range(90000):
            f.write("[D%d]\n" % i)
    run = ctx.quorvel(["info"], 10.0, config=path)
    ctx.m.time(run.seconds)
    ctx.m.memory(run.peak_mb)
    require(not run.timed_out, "90 000 sections: %s (the reading is not linear)" % run.describe())
    require(run.rc == 0, "90 000 sections: %s: %s" % (run.describe(), run.last_err_line()))
    require(run.seconds <= 5.0, "90 000 sections took %.1f s" % run.seconds)
    ctx.m.note("read in %.1f s" % run.seconds)


@case("firmware-nonfile", "firmware DIR, FIFO, /dev/zero: a clear message (not 'File not found'), non-zero exit, no hang")
def firmware_nonfile(ctx):
    folder = ctx.path("fw-dir")
    os.mkdir(folder)
    fifo = ctx.path("fw.fifo")
    os.mkfifo(fifo)
    problems = []
    for what, path in (("a directory", folder), ("a FIFO", fifo), ("/dev/zero", "/dev/zero")):
        run = ctx.quorvel(["firmware", path], 10.0, config=ctx.config())
        ctx.m.time(run.seconds)
        ctx.m.memory(run.peak_mb)
        if run.timed_out or run.killed_for_memory or run.rc is None or run.rc <= 0 or run.rc >= 128:
            problems.append("%s: %s" % (what, run.describe()))
        elif "not found" in run.err.lower():
            problems.append("%s: says %r" % (what, run.last_err_line()))
        elif path not in run.err:
            problems.append("%s: exit %d without naming it: %s" % (what, run.rc, run.last_err_line()))
        else:
            ctx.m.note("%s: exit %d, %s" % (what, run.rc, short(run.last_err_line(), 70)))
    require(not problems, "; ".join(problems))


@case("save-table-concurrent", "two save-table runs for one data set: one saves, the other says so; mode 0644")
def save_table_concurrent(ctx):
    # Each run has a simulator of its own whose answers come 0.3 s late, so both
    # runs are reading the calibration row when the other one stores it.
    sims = [ctx.sim("--delay", "0.3", vxi11=False) for _ in range(2)]
    try:
        config = ctx.config()
        runs = [ctx.quorvel(["--address", "TCPIP::127.0.0.1::%d::SOCKET" % s.socket_port, "save-table", "--from", "DUT3",
                             "--to", "Rx", "--att", "20"], 30, config=config, umask=0o022, start=False) for s in sims]
        runs = [Run(w, 30, ctx.tmp) for w in runs]
    finally:
        for s in sims:
            s.end()
    for r in runs:
        ctx.m.time(r.seconds)
        ctx.m.memory(r.peak_mb)
    # Everything but the host's log: the data set and any temporary file left behind.
    files = [p for p in glob.glob(ctx.path("data") + "/**/*", recursive=True)
             if os.path.isfile(p) and os.path.basename(p) != "quorvel.log"]
    saved = [r for r in runs if r.rc == 0 and "Saved " in r.out]
    others = [r for r in runs if r not in saved]
    said = ["run %d: %s, %s" % (i + 1, r.describe(), last_words(r)) for i, r in enumerate(runs)]
    require(all(not r.timed_out for r in runs), "; ".join(said))
    problems = []
    if len(saved) != 1:
        problems.append(("both runs report success" if saved else "neither run saved the data set") + " (%s)" % "; ".join(said))
    elif not any("exist" in (r.out + r.err).lower() or (r.rc != 0 and r.err.strip()) for r in others):
        problems.append("the other run said nothing clear (%s)" % "; ".join(said))
    if len(files) != 1:
        problems.append("%d files in the data folder: %s" % (len(files), ", ".join(os.path.basename(f) for f in files)))
    for f in files:
        mode = stat.S_IMODE(os.stat(f).st_mode)
        if mode != 0o644:
            problems.append("%s has mode %04o, not 0644 (umask 022)" % (os.path.basename(f), mode))
    require(not problems, "; ".join(problems))
    ctx.m.note("one saved, the other: %s; mode 0644" % last_words(others[0]))


def last_words(run):
    lines = [l.strip() for l in (run.out + "\n" + run.err).splitlines() if l.strip()]
    return short(lines[-1].replace(run.tmp + "/", ""), 80) if lines else "-"
