#!/usr/bin/env python3
"""The panel as a user runs it: a real X server (Xvfb), the X11 platform plugin,
Start pressed through the window system (xdotool), and the window's picture
compared with the same state drawn offscreen by the panel itself.

usage: panel_x11.py PANEL

The burst list, its result fields and the plot must show in the real window
what the panel's model holds (the offscreen picture of the same search on the
embedded simulator, which is deterministic).  Exit status 0 when they agree.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# Regions of the burst-search page (window coordinates at the default size):
# the burst list, the result fields and the plot's area.
REGIONS = {"burst list": (524, 214, 958, 406), "results": (662, 412, 952, 574), "plot": (20, 640, 980, 860)}


def read_xwd(path):
    """(width, height, rows of RGB bytes) of a 24/32-bit ZPixmap X window dump."""
    data = open(path, "rb").read()
    h = struct.unpack(">25I", data[:100])
    header_size, width, height, byte_order, bpp, line, ncolors = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
    if bpp != 32:
        raise SystemExit("xwd: %d bits per pixel, not 32" % bpp)
    pixels = data[header_size + ncolors * 12:]
    rows = []
    for y in range(height):
        row = pixels[y * line:y * line + width * 4]
        out = bytearray(width * 3)
        for x in range(width):
            b, g, r = (row[4 * x], row[4 * x + 1], row[4 * x + 2]) if byte_order == 0 else (row[4 * x + 3], row[4 * x + 2], row[4 * x + 1])
            out[3 * x:3 * x + 3] = bytes((r, g, b))
        rows.append(bytes(out))
    return width, height, rows


def read_png(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("%s is not a PNG" % path)
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, color = struct.unpack(">IIBB", chunk[:10])
        elif kind == b"IDAT":
            idat += chunk
        pos += 12 + length
    if depth != 8 or color not in (2, 6):
        raise SystemExit("%s: not 8-bit RGB(A)" % path)
    n = 3 if color == 2 else 4
    raw, stride, rows, prev = zlib.decompress(idat), width * n, [], bytearray(width * n)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b, c = prev[i], prev[i - n] if i >= n else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        prev = line
        rows.append(bytes(line) if n == 3 else bytes(v for x in range(width) for v in line[4 * x:4 * x + 3]))
    return width, height, rows


def region(rows, box):
    x0, y0, x1, y1 = box
    return [r[3 * x0:3 * x1] for r in rows[y0:y1]]


def differing(a, b):
    """Share of pixels that differ by more than a little (antialiasing aside)."""
    total = bad = 0
    for ra, rb in zip(a, b):
        for i in range(0, len(ra), 3):
            total += 1
            if max(abs(ra[i + k] - rb[i + k]) for k in range(3)) > 48:
                bad += 1
    return bad / max(total, 1)


def main():
    panel = os.path.abspath(sys.argv[1])
    for tool in ("Xvfb", "xdotool", "xwd"):
        if not shutil.which(tool):
            raise SystemExit("%s is missing (bash scripts/deps.sh --test installs it)" % tool)
    tmp = tempfile.mkdtemp(prefix="panel-x11-")
    env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=tmp, QT_QPA_PLATFORM="xcb")
    open(os.path.join(tmp, "empty.ini"), "w").close()
    ref = os.path.join(tmp, "offscreen.png")
    subprocess.run([panel, "--config", "empty.ini", "--screenshot", ref, "--page", "2", "--meas-time", "0.05", "--burst-search"], cwd=tmp,
                   env=dict(env, QT_QPA_PLATFORM="offscreen"), check=True, capture_output=True, timeout=60)
    # A display of our own: the first number without a server's lock.
    display = next(str(n) for n in range(90, 400) if not os.path.exists("/tmp/.X%d-lock" % n))
    xvfb = subprocess.Popen(["Xvfb", ":" + display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=open(os.path.join(tmp, "xvfb.err"), "w"))
    window = None
    try:
        env["DISPLAY"] = ":" + display
        for _ in range(100):  # the server takes connections
            if subprocess.run(["xdotool", "getdisplaygeometry"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        else:
            raise SystemExit("Xvfb on :%s takes no connections (%s): %s" % (
                display, "running" if xvfb.poll() is None else "ended %s" % xvfb.poll(),
                open(os.path.join(tmp, "xvfb.err")).read()[-400:]))
        window = subprocess.Popen([panel, "--config", "empty.ini", "--page", "2", "--meas-time", "0.05", "--ports", "2,3"], cwd=tmp, env=env,
                                  stdout=subprocess.DEVNULL, stderr=open(os.path.join(tmp, "panel.err"), "w"))
        found, deadline = [], time.monotonic() + 30
        while not found and time.monotonic() < deadline and window.poll() is None:
            time.sleep(0.2)
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(window.pid)], env=env,
                                   capture_output=True, text=True, timeout=10).stdout.split()
        if not found:
            raise SystemExit("the panel's window did not appear (exit status %s): %s" % (
                window.poll(), open(os.path.join(tmp, "panel.err")).read()[-600:]))
        win = found[0]
        time.sleep(0.5)
        # Start (it has the focus) pressed through the window system.
        subprocess.run(["xdotool", "key", "--window", win, "space"], env=env, check=True, timeout=10)
        shot = os.path.join(tmp, "window.xwd")
        deadline, agree = time.monotonic() + 20, {}
        while time.monotonic() < deadline:
            time.sleep(1.0)
            with open(shot, "wb") as f:
                subprocess.run(["xwd", "-silent", "-id", win], env=env, stdout=f, check=True, timeout=10)
            _, _, got = read_xwd(shot)
            _, _, want = read_png(ref)
            agree = {name: differing(region(got, box), region(want, box)) for name, box in REGIONS.items()}
            if all(v < 0.02 for v in agree.values()):
                print("the real window shows the model's burst search: " +
                      ", ".join("%s %.1f %% apart" % (n, 100 * v) for n, v in agree.items()))
                return 0
        raise SystemExit("the real window does not show what the model holds: " +
                         ", ".join("%s %.0f %% of pixels differ" % (n, 100 * v) for n, v in agree.items()))
    finally:
        if window:
            window.terminate()
            try:
                window.wait(5)
            except subprocess.TimeoutExpired:
                window.kill()
        xvfb.terminate()
        xvfb.wait(5)
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
