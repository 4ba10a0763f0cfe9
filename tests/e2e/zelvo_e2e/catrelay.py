"""A TCP relay in front of rigctld that holds back each of its answers: a
slow CAT link, or a rigctld at a remote site. It can also answer every read
of PTT itself with a fixed value, as a radio that does not follow would.

    relay = CatRelay(rigctld_port, delay_ms=80)   # relay.port for the program
"""

import heapq
import socket
import threading
import time

from .loopback import free_port


class CatRelay:
    def __init__(self, upstream_port, delay_ms=80, ptt_reads=None):
        self.upstream_port = upstream_port
        self.delay_ns = int(delay_ms * 1_000_000)
        self.ptt_reads = ptt_reads
        self.port = free_port()
        self._listener = socket.create_server(("127.0.0.1", self.port))
        self._closed = threading.Event()
        self._sockets = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self._closed.is_set():
            try:
                client, _ = self._listener.accept()
            except OSError:
                return
            upstream = socket.create_connection(("127.0.0.1", self.upstream_port))
            for s in (client, upstream):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            self._sockets += [client, upstream]
            outgoing = _DelayedSender(client, self.delay_ns)
            threading.Thread(target=self._requests, args=(client, upstream, outgoing), daemon=True).start()
            threading.Thread(target=self._answers, args=(upstream, outgoing), daemon=True).start()

    def _requests(self, client, upstream, outgoing):
        pending = b""
        while True:
            try:
                data = client.recv(4096)
            except OSError:
                data = b""
            if not data:
                break
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                words = line.split()
                if self.ptt_reads is not None and words and words[0] in (b"t", b"\\get_ptt"):
                    outgoing.send(f"{self.ptt_reads}\n".encode())
                else:
                    upstream.sendall(line + b"\n")
        _shut(upstream)
        outgoing.close()

    def _answers(self, upstream, outgoing):
        while True:
            try:
                data = upstream.recv(4096)
            except OSError:
                data = b""
            if not data:
                break
            outgoing.send(data)
        outgoing.close()

    def close(self):
        self._closed.set()
        _shut(self._listener)
        for s in self._sockets:
            _shut(s)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class _DelayedSender:
    """Sends each chunk delay_ns after it was handed over, in order."""

    def __init__(self, sock, delay_ns):
        self._sock = sock
        self._delay_ns = delay_ns
        self._queue = []
        self._order = 0
        self._ready = threading.Condition()
        self._closing = False
        threading.Thread(target=self._run, daemon=True).start()

    def send(self, data):
        with self._ready:
            self._order += 1
            heapq.heappush(self._queue, (time.monotonic_ns() + self._delay_ns, self._order, data))
            self._ready.notify()

    def close(self):
        with self._ready:
            self._closing = True
            self._ready.notify()

    def _run(self):
        while True:
            with self._ready:
                while not self._queue and not self._closing:
                    self._ready.wait()
                if not self._queue:
                    _shut(self._sock)
                    return
                due, _, data = self._queue[0]
                wait_s = (due - time.monotonic_ns()) / 1e9
                if wait_s > 0:
                    # The peer's own delay, not a test waiting for something.
                    self._ready.wait(wait_s)
                    continue
                heapq.heappop(self._queue)
            try:
                self._sock.sendall(data)
            except OSError:
                return


def _shut(sock):
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()
