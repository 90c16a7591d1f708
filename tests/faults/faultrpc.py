"""ONC RPC over TCP as VXI-11 and the portmapper use it: XDR words, record
marking, call and reply headers, and a small VXI-11 client for the simulator.

Standard library only.  Every blocking call takes a deadline so that a case
never waits longer than it means to.
"""

import socket
import struct
import time

PORTMAPPER, PORTMAPPER_V2, PMAP_GETPORT = 100000, 2, 3
DEVICE_CORE, DEVICE_ASYNC, VXI11_VERSION = 0x0607AF, 0x0607B0, 1
CREATE_LINK, DEVICE_WRITE, DEVICE_READ, DESTROY_LINK = 10, 11, 12, 23
DEVICE_ABORT, DEVICE_LOCK, DEVICE_UNLOCK = 1, 18, 19
FLAG_WAITLOCK, FLAG_END, FLAG_TERMCHAR = 0x01, 0x08, 0x80
DEVICE_LOCKED_BY_ANOTHER_LINK, NO_LOCK_HELD, ABORTED = 11, 12, 23
REASON_REQCNT, REASON_CHR, REASON_END = 1, 2, 4
IPPROTO_TCP_NUMBER = 6

MSG_ACCEPTED, MSG_DENIED = 0, 1
SUCCESS, PROG_UNAVAIL, PROG_MISMATCH, PROC_UNAVAIL, GARBAGE_ARGS = 0, 1, 2, 3, 4


class RpcError(Exception):
    pass


# --- XDR -------------------------------------------------------------------

def u32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def i32(v):
    return struct.pack(">i", v)


def opaque(data):
    pad = (4 - len(data) % 4) % 4
    return u32(len(data)) + data + b"\0" * pad


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def u32(self):
        if self.pos + 4 > len(self.data):
            raise RpcError("short XDR data")
        v = struct.unpack_from(">I", self.data, self.pos)[0]
        self.pos += 4
        return v

    def i32(self):
        v = self.u32()
        return v - (1 << 32) if v & 0x80000000 else v

    def opaque(self, limit=1 << 27):
        n = self.u32()
        if n > limit or self.pos + n > len(self.data):
            raise RpcError("bad opaque length %d" % n)
        out = self.data[self.pos:self.pos + n]
        self.pos += (n + 3) // 4 * 4
        return out

    def rest(self):
        return self.data[self.pos:]


# --- headers ----------------------------------------------------------------

def call_header(xid, prog, vers, proc):
    """An RPC call header with AUTH_NONE credential and verifier."""
    return u32(xid) + u32(0) + u32(2) + u32(prog) + u32(vers) + u32(proc) + u32(0) + u32(0) + u32(0) + u32(0)


def reply_header(xid, accept_stat=SUCCESS):
    return u32(xid) + u32(1) + u32(MSG_ACCEPTED) + u32(0) + u32(0) + u32(accept_stat)


def parse_call(payload):
    """(xid, prog, vers, proc, Reader at the arguments) of a call."""
    r = Reader(payload)
    xid, mtype, rpcvers, prog, vers, proc = (r.u32() for _ in range(6))
    if mtype != 0 or rpcvers != 2:
        raise RpcError("not an RPC call")
    r.u32()
    r.opaque(400)
    r.u32()
    r.opaque(400)
    return xid, prog, vers, proc, r


def parse_reply(payload):
    """(xid, reply_stat, accept_stat or reject_stat, Reader at the results)."""
    r = Reader(payload)
    xid, mtype, reply_stat = r.u32(), r.u32(), r.u32()
    if mtype != 1:
        raise RpcError("not an RPC reply")
    if reply_stat == MSG_ACCEPTED:
        r.u32()
        r.opaque(400)
        return xid, reply_stat, r.u32(), r
    return xid, reply_stat, r.u32(), r


# --- record marking ---------------------------------------------------------

def record(payload):
    """One record as a single last fragment."""
    return u32(0x80000000 | len(payload)) + payload


def fragment(data, last):
    return u32((0x80000000 if last else 0) | len(data)) + data


def recv_exact(sock, n, deadline):
    out = bytearray()
    while len(out) < n:
        left = deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout("no data in time")
        sock.settimeout(left)
        chunk = sock.recv(n - len(out))
        if not chunk:
            raise ConnectionError("peer closed")
        out += chunk
    return bytes(out)


def read_record(sock, deadline, limit=1 << 27):
    data = bytearray()
    while True:
        marker = struct.unpack(">I", recv_exact(sock, 4, deadline))[0]
        length = marker & 0x7FFFFFFF
        if len(data) + length > limit:
            raise RpcError("record too large")
        data += recv_exact(sock, length, deadline)
        if marker & 0x80000000:
            return bytes(data)


def rpc_call(sock, xid, prog, vers, proc, args, timeout):
    """Sends one call and returns the reply with the same xid (others are skipped)."""
    deadline = time.monotonic() + timeout
    sock.settimeout(timeout)
    sock.sendall(record(call_header(xid, prog, vers, proc) + args))
    while True:
        rxid, reply_stat, stat, r = parse_reply(read_record(sock, deadline))
        if rxid == xid:
            return reply_stat, stat, r


def getport(host, pm_port, prog, vers, timeout=3.0):
    s = socket.create_connection((host, pm_port), timeout=timeout)
    try:
        reply_stat, stat, r = rpc_call(s, 1, PORTMAPPER, PORTMAPPER_V2, PMAP_GETPORT,
                                       u32(prog) + u32(vers) + u32(IPPROTO_TCP_NUMBER) + u32(0), timeout)
        if reply_stat != MSG_ACCEPTED or stat != SUCCESS:
            raise RpcError("portmapper refused GETPORT (%d/%d)" % (reply_stat, stat))
        return r.u32()
    finally:
        s.close()


class Vxi11Client:
    """The core channel of one VXI-11 link: create_link, device_write, device_read, destroy_link."""

    def __init__(self, host, core_port, timeout=3.0):
        self.sock = socket.create_connection((host, core_port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.xid = 0
        self.lid = None
        self.timeout = timeout

    def call(self, proc, args, timeout=None):
        self.xid += 1
        reply_stat, stat, r = rpc_call(self.sock, self.xid, DEVICE_CORE, VXI11_VERSION, proc, args,
                                       timeout or self.timeout)
        if reply_stat != MSG_ACCEPTED or stat != SUCCESS:
            raise RpcError("call %d refused (%d/%d)" % (proc, reply_stat, stat))
        return r

    def create_link(self, device=b"inst0"):
        r = self.call(CREATE_LINK, i32(4711) + u32(0) + u32(0) + opaque(device))
        err, lid, abort_port, max_recv = r.i32(), r.i32(), r.u32(), r.u32()
        if err == 0:
            self.lid = lid
        return err, lid, abort_port, max_recv

    def write(self, data, io_timeout_ms=2000, lock_timeout_ms=None):
        """Without a lock time-out a locked unit refuses at once; with one, the write waits for the lock."""
        flags = FLAG_END | (FLAG_WAITLOCK if lock_timeout_ms is not None else 0)
        r = self.call(DEVICE_WRITE, i32(self.lid) + u32(io_timeout_ms) + u32(lock_timeout_ms or 0) + i32(flags)
                      + opaque(data), timeout=(io_timeout_ms + (lock_timeout_ms or 0)) / 1000.0 + 1.0)
        return r.i32(), r.u32()

    def lock(self, lock_timeout_ms, wait=True):
        """device_lock: the error code (0, 11 held elsewhere, 23 aborted)."""
        r = self.call(DEVICE_LOCK, i32(self.lid) + i32(FLAG_WAITLOCK if wait else 0) + u32(lock_timeout_ms),
                      timeout=lock_timeout_ms / 1000.0 + 2.0)
        return r.i32()

    def unlock(self):
        return self.call(DEVICE_UNLOCK, i32(self.lid)).i32()

    def read(self, io_timeout_ms=2000, size=1 << 20):
        r = self.call(DEVICE_READ, i32(self.lid) + u32(size) + u32(io_timeout_ms) + u32(0) + i32(FLAG_TERMCHAR)
                      + u32(ord("\n")), timeout=io_timeout_ms / 1000.0 + 1.0)
        return r.i32(), r.i32(), r.opaque()

    def query(self, text, io_timeout_ms=2000):
        """Writes a message and reads its answer up to END; b'' with the error code when none came."""
        err, _ = self.write(text, io_timeout_ms)
        if err:
            return None, err
        out = b""
        while True:
            err, reason, data = self.read(io_timeout_ms)
            if err:
                return out, err
            out += data
            if reason & (REASON_END | REASON_CHR):
                return out, 0

    def close(self):
        try:
            if self.lid is not None:
                self.call(DESTROY_LINK, i32(self.lid), timeout=1.0)
        except (OSError, RpcError):
            pass
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
