"""Hamlib's rigctld with its dummy rig on 127.0.0.1: a real CAT peer.

Without -P RIG the dummy rig refuses PTT. rigctld keeps the rig keyed when
its client goes away, as a real one does: only a command releases it.
"""

import socket

from .helperprocess import HelperProcess
from .loopback import free_port


class Rigctld(HelperProcess):
    """port, ptt(), kill(), start() again on the same port, close()."""

    def __init__(self, port=None):
        super().__init__("rigctld")
        self.port = port or free_port()
        self.start()

    def start(self):
        self._start(["rigctld", "-m", "1", "-P", "RIG", "-T", "127.0.0.1", "-t", str(self.port)])

    def ptt(self):
        """PTT as the rig reports it to a client of our own (0 or 1)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=5.0) as client:
            client.sendall(b"t\n")
            answer = client.makefile("r").readline().strip()
        return int(answer)
