"""Servers that misbehave on purpose, for the client side of the fault suite.

Each listens on 127.0.0.1 (an ephemeral port unless one is given), serves
every connection on a thread of its own and records what it saw in
`events`, so that a case can tell whether the client reached the hostile
part at all.  stop() closes every socket and joins the threads.
"""

import select
import socket
import threading
import time

import faultrpc as rpc


class Stopped(Exception):
    pass


class TcpServer:
    def __init__(self, port=0, host="127.0.0.1"):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((host, port))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        self.events = []
        self._lock = threading.Lock()
        self._conns = []
        self._threads = []
        self._accept = threading.Thread(target=self._accept_loop, daemon=True)
        self._accept.start()

    # what the server saw
    def note(self, what):
        with self._lock:
            self.events.append((time.monotonic(), what))

    def saw(self, what):
        with self._lock:
            return any(w == what for _, w in self.events)

    def first(self, what):
        with self._lock:
            for t, w in self.events:
                if w == what:
                    return t
        return None

    def _accept_loop(self):
        while not self.stopping.is_set():
            r, _, _ = select.select([self.listener], [], [], 0.1)
            if not r:
                continue
            try:
                conn, _ = self.listener.accept()
            except OSError:
                continue
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            with self._lock:
                self._conns.append(conn)
            t = threading.Thread(target=self._serve, args=(conn,), daemon=True)
            with self._lock:
                self._threads.append(t)
            t.start()

    def _serve(self, conn):
        try:
            self.handle(conn)
        except (OSError, Stopped, rpc.RpcError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def handle(self, conn):
        raise NotImplementedError

    def sleep(self, seconds):
        if self.stopping.wait(seconds):
            raise Stopped()

    def stop(self):
        self.stopping.set()
        self._accept.join(2)
        with self._lock:
            conns, threads = list(self._conns), list(self._threads)
        for c in conns:
            try:
                c.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            try:
                c.close()
            except OSError:
                pass
        for t in threads:
            t.join(2)
        self.listener.close()


class RecordStream:
    """Complete RPC records from a connection, with short waits so a server can do other things."""

    def __init__(self, conn):
        self.conn = conn
        self.buf = bytearray()
        self.fragments = bytearray()

    def next(self, timeout):
        """A record, or None when none is complete within timeout; ConnectionError when the peer left."""
        deadline = time.monotonic() + timeout
        while True:
            rec = self._take()
            if rec is not None:
                return rec
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            r, _, _ = select.select([self.conn], [], [], left)
            if not r:
                return None
            chunk = self.conn.recv(1 << 16)
            if not chunk:
                raise ConnectionError("peer closed")
            self.buf += chunk

    def _take(self):
        while len(self.buf) >= 4:
            marker = int.from_bytes(self.buf[:4], "big")
            length = marker & 0x7FFFFFFF
            if len(self.buf) < 4 + length:
                return None
            self.fragments += self.buf[4:4 + length]
            del self.buf[:4 + length]
            if marker & 0x80000000:
                rec = bytes(self.fragments)
                self.fragments.clear()
                return rec
        return None


class AbortChannel(TcpServer):
    """A well-behaved abort channel: every device_abort is answered at once."""

    def handle(self, conn):
        stream = RecordStream(conn)
        while not self.stopping.is_set():
            rec = stream.next(0.2)
            if rec is None:
                continue
            xid, prog, vers, proc, _ = rpc.parse_call(rec)
            self.note("abort")
            conn.sendall(rpc.record(rpc.reply_header(xid) + rpc.i32(0)))


class Vxi11Hostile(TcpServer):
    """A VXI-11 core channel that misbehaves from a chosen call on.

    mode:
      "empty-read"      every device_read: error 0, reason 0 (no END), no data
      "wrong-xid-read"  from the first device_read: only replies with a wrong xid, every 0.5 s
      "wrong-xid-link"  the same from create_link on
      "dribble-read"    from the first device_read: empty and 1-byte non-last fragments, never a last one
    """

    def __init__(self, mode, abort_port=0, interval=1.0, **kw):
        self.mode = mode
        self.abort_port = abort_port
        self.interval = interval
        super().__init__(**kw)

    def handle(self, conn):
        stream = RecordStream(conn)
        while not self.stopping.is_set():
            rec = stream.next(0.2)
            if rec is None:
                continue
            xid, prog, vers, proc, args = rpc.parse_call(rec)
            self.note("call %d" % proc)
            if proc == rpc.CREATE_LINK:
                if self.mode == "wrong-xid-link":
                    return self._wrong_xids(conn, stream, xid)
                body = rpc.i32(0) + rpc.i32(1) + rpc.u32(self.abort_port) + rpc.u32(1 << 20)
            elif proc == rpc.DEVICE_WRITE:
                args.i32(), args.u32(), args.u32(), args.i32()
                body = rpc.i32(0) + rpc.u32(len(args.opaque()))
            elif proc == rpc.DEVICE_READ:
                self.note("read")
                if self.mode == "empty-read":
                    self.note("hostile")
                    body = rpc.i32(0) + rpc.i32(0) + rpc.opaque(b"")
                elif self.mode == "wrong-xid-read":
                    return self._wrong_xids(conn, stream, xid)
                elif self.mode == "dribble-read":
                    return self._dribble(conn, stream)
                else:
                    body = rpc.i32(0) + rpc.i32(rpc.REASON_END) + rpc.opaque(b"1\n")
            else:
                body = rpc.i32(0)
            conn.sendall(rpc.record(rpc.reply_header(xid) + body))

    def _wrong_xids(self, conn, stream, xid):
        """Well-formed replies, each with an xid the client never used, every 0.5 s."""
        self.note("hostile")
        while True:
            bogus = (xid + 0x5A5A) & 0xFFFFFFFF
            body = rpc.i32(0) + rpc.i32(0) + rpc.u32(self.abort_port) + rpc.u32(1 << 20) if self.mode == "wrong-xid-link" \
                else rpc.i32(0) + rpc.i32(rpc.REASON_END) + rpc.opaque(b"1\n")
            conn.sendall(rpc.record(rpc.reply_header(bogus) + body))
            deadline = time.monotonic() + 0.5
            while time.monotonic() < deadline:
                rec = stream.next(max(0.0, deadline - time.monotonic()))
                if rec is not None:
                    xid, _, _, proc, _ = rpc.parse_call(rec)  # later calls get wrong xids too
                    self.note("call %d" % proc)
                if self.stopping.is_set():
                    raise Stopped()

    def _dribble(self, conn, stream):
        self.note("hostile")
        return dribble(self, conn, stream, self.interval)


def dribble(server, conn, stream, interval):
    """Empty and one-byte fragments, none of them the last, every interval seconds."""
    n = 0
    while True:
        conn.sendall(rpc.fragment(b"" if n % 2 == 0 else b"x", last=False))
        n += 1
        deadline = time.monotonic() + interval
        while time.monotonic() < deadline:
            rec = stream.next(max(0.0, deadline - time.monotonic()))  # what the client sends is not answered
            if rec is not None:
                try:
                    server.note("call %d" % rpc.parse_call(rec)[3])
                except rpc.RpcError:
                    server.note("garbage")
            if server.stopping.is_set():
                raise Stopped()


class PortmapperDribble(TcpServer):
    """A portmapper that answers GETPORT with a record that never ends."""

    def __init__(self, interval=0.5, **kw):
        self.interval = interval
        super().__init__(**kw)

    def handle(self, conn):
        stream = RecordStream(conn)
        while not self.stopping.is_set():
            rec = stream.next(0.2)
            if rec is None:
                continue
            self.note("getport")
            self.note("hostile")
            return dribble(self, conn, stream, self.interval)


class ScpiHostile(TcpServer):
    """A raw SCPI socket.

    mode:
      "endless"   every query (a line with '?') starts a stream of bytes without a line feed
      "huge-idn"  "*IDN?" gets one line of idn_bytes bytes; "*ESR?" 1, the error queue empty, others 0
    """

    def __init__(self, mode, idn_bytes=78 * 1000 * 1000, **kw):
        self.mode = mode
        self.idn_bytes = idn_bytes
        self.sent = 0
        super().__init__(**kw)

    def handle(self, conn):
        buf = b""
        while not self.stopping.is_set():
            r, _, _ = select.select([conn], [], [], 0.2)
            if not r:
                continue
            chunk = conn.recv(1 << 16)
            if not chunk:
                return
            buf += chunk
            while b"\n" in buf:
                line, buf = buf.split(b"\n", 1)
                self.note("line " + line[:40].decode("latin-1"))
                if b"?" not in line:
                    continue
                if self.mode == "endless":
                    self.note("hostile")
                    return self._stream(conn)
                conn.sendall(self._answer(line))

    def _answer(self, line):
        parts = []
        for part in line.decode("latin-1").split(";"):
            p = part.strip().upper()
            if "?" not in p:
                continue
            if p == "*ESR?":
                parts.append(b"1")
            elif p == "*IDN?":
                self.note("hostile")
                head = b"Tavlor,Zentrix8,Z8-000999,"
                parts.append(head + b"9" * max(0, self.idn_bytes - len(head) - 1))
            elif "ERR" in p:
                parts.append(b'0,"No error"')
            else:
                parts.append(b"0")
        return b";".join(parts) + b"\n"

    def _stream(self, conn):
        chunk = b"1234," * 13107
        conn.setblocking(False)
        while not self.stopping.is_set():
            r, w, _ = select.select([conn], [conn], [], 0.2)
            if r:
                try:
                    if not conn.recv(1 << 16):
                        return
                except BlockingIOError:
                    pass
            if w:
                try:
                    self.sent += conn.send(chunk)
                except BlockingIOError:
                    pass


class DiscoverFlood:
    """Hundreds of hosts answering a portmapper broadcast on the loopback
    (127.255.255.255:111): each replies from an address of its own with a
    core port, and its portmapper accepts a TCP connection and never answers,
    so an *IDN? to it waits for its time-out."""

    def __init__(self, count, address_of):
        self.stopping = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.255.255.255", 111))
        self.senders, self.silent = [], []
        for k in range(count):
            ip = address_of(k)
            u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            u.bind((ip, 0))
            t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            t.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            t.bind((ip, 111))
            t.listen(8)  # connections wait in the backlog, never accepted
            self.senders.append(u)
            self.silent.append(t)
        self.requests = 0
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self.stopping.is_set():
            r, _, _ = select.select([self.listener], [], [], 0.1)
            if not r:
                continue
            try:
                data, peer = self.listener.recvfrom(2048)
                xid = rpc.parse_call(data)[0]
            except (OSError, rpc.RpcError, IndexError):
                continue
            self.requests += 1
            reply = rpc.reply_header(xid) + rpc.u32(111)  # the core port: the silent listener's
            for n, u in enumerate(self.senders, 1):
                try:
                    u.sendto(reply, peer)
                except OSError:
                    pass
                if n % 25 == 0:
                    time.sleep(0.002)  # as hosts on a network answer: not all in one microsecond

    def stop(self):
        self.stopping.set()
        self._thread.join(2)
        for s in [self.listener] + self.senders + self.silent:
            s.close()
