"""A TCP relay in front of rigctld that holds back each of its answers: a
slow CAT link, or a rigctld at a remote site. It can also answer every read
of PTT itself with a fixed value, as a radio that does not follow would.

    relay = CatRelay(rigctld_port, delay_ms=80)   # relay.port for the program
"""

import queue
import socket
import threading
import time

from .loopback import free_port


class CatRelay:
    def __init__(self, upstream_port, delay_ms=80, ptt_reads=None):
        self.upstream_port = upstream_port
        self.delay_s = delay_ms / 1000
        self.ptt_reads = ptt_reads
        self.port = free_port()
        self._listener = socket.create_server(("127.0.0.1", self.port))
        self._sockets = [self._listener]
        self._start(self._accept)

    @staticmethod
    def _start(target, *args):
        threading.Thread(target=target, args=args, daemon=True).start()

    def _accept(self):
        while True:
            try:
                client, _ = self._listener.accept()
                upstream = socket.create_connection(("127.0.0.1", self.upstream_port))
            except OSError:
                return
            self._sockets += [client, upstream]
            answers = queue.Queue()
            self._start(self._requests, client, upstream, answers)
            self._start(self._forward, upstream, answers)
            self._start(self._answer, client, answers)

    def _requests(self, client, upstream, answers):
        try:
            for line in client.makefile("rb"):
                words = line.split()
                if self.ptt_reads is not None and words and words[0] in (b"t", b"\\get_ptt"):
                    answers.put((time.monotonic() + self.delay_s, f"{self.ptt_reads}\n".encode()))
                else:
                    upstream.sendall(line)
        except OSError:
            pass
        _shut(upstream)

    def _forward(self, upstream, answers):
        while data := _receive(upstream):
            answers.put((time.monotonic() + self.delay_s, data))
        answers.put((0, b""))

    @staticmethod
    def _answer(client, answers):
        # One delay for all, so the order they came in is the order they are due.
        while (item := answers.get())[1]:
            time.sleep(max(0.0, item[0] - time.monotonic()))  # the link's own delay
            try:
                client.sendall(item[1])
            except OSError:
                break
        _shut(client)

    def close(self):
        for s in self._sockets:
            _shut(s)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _receive(sock):
    try:
        return sock.recv(4096)
    except OSError:
        return b""


def _shut(sock):
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()
