"""Hamlib's rigctld with its dummy rig on 127.0.0.1: a real CAT peer.

Without -P RIG the dummy rig refuses PTT. rigctld keeps the rig keyed when
its client goes away, as a real one does: only a command releases it.
"""

import socket
import threading
import time

from .helperprocess import HelperProcess
from .loopback import free_port


def ask(port, command):
    """The first line of the answer of rigctld on `port` to a new client."""
    with socket.create_connection(("127.0.0.1", port), timeout=5.0) as client:
        client.sendall(command.encode() + b"\n")
        return client.makefile("r").readline().strip()


class Rigctld(HelperProcess):
    """port, ptt(), kill(), start() again on the same port, close()."""

    def __init__(self, port=None):
        super().__init__("rigctld")
        self.port = port or free_port()
        self.start()

    def start(self):
        self._start(["rigctld", "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", str(self.port)])

    def ask(self, command):
        """The first line of rigctld's answer to a client of our own."""
        return ask(self.port, command)

    def ptt(self):
        """PTT as the rig reports it to a client of our own (0 or 1)."""
        return int(self.ask("t"))


class PttWatcher:
    """Reads rigctld's PTT over and over through a connection of its own, and
    keeps each reading as (sent_ns, answered_ns, value): the radio's own view
    of when it transmitted, bounded on both sides by CLOCK_MONOTONIC."""

    def __init__(self, port):
        self.readings = []
        self._stop = threading.Event()
        self._client = socket.create_connection(("127.0.0.1", port), timeout=5.0)
        self._answers = self._client.makefile("r")
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            sent = time.monotonic_ns()
            try:
                self._client.sendall(b"t\n")
                value = int(self._answers.readline().strip())
            except (OSError, ValueError):
                return
            self.readings.append((sent, time.monotonic_ns(), value))

    def last_on_before(self, t_ns):
        """When the last reading sent before t_ns that saw PTT on was sent."""
        return max((sent for sent, _, value in self.readings if value and sent < t_ns), default=None)

    def first_on(self, after_ns):
        """When the first reading after after_ns that saw PTT on was answered."""
        return min((answered for sent, answered, value in self.readings if value and sent > after_ns), default=None)

    def close(self):
        self._stop.set()
        self._thread.join(5.0)
        self._client.close()
