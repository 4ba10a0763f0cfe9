"""Network ports for the end-to-end tests: RFC 2217 peers on 127.0.0.1.

NetworkPeer starts tests/network/rfc2217peer.py (pyserial's RFC 2217
PortManager over a port without hardware) and talks to it through its
standard input and output: the test drives the fake port's CTS and watches
its RTS, with the peer's own CLOCK_MONOTONIC time stamps.

NetworkRig is a FootswitchRig whose chosen port numbers are mapped to such
peers (rfc2217://127.0.0.1:PORT in the settings group "Ports") instead of
pseudo-terminals; every other number keeps its pseudo-terminal.

    with NetworkRig(program, modemlines) as rig:    # Com1 and Com2 on peers
        rig.start()
        rig.wait_until_open()
        applied = rig.press()                       # CTS high on the input peer
        changed = rig.output.wait_for_rts(1)        # the output peer's RTS time
        rig.release()
"""

import os
import subprocess
import threading
import time

from .footswitchrig import FootswitchRig
from .helperprocess import end_process, kill_process
from .polling import wait_until

PEER_SCRIPT = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                           "network", "rfc2217peer.py")
PYTHON = "/usr/bin/python3"  # Debian's, which has python3-serial


class NetworkPeer:
    """One rfc2217peer.py process: an RFC 2217 device server on 127.0.0.1.

    port, url          where it listens (rfc2217://127.0.0.1:PORT)
    set_cts(value)     drives CTS; returns the peer's time (ns) of the change
    rts                the port's RTS as last reported
    rts_changes()      every reported RTS change as (value, monotonic ns)
    wait_for_rts(v)    waits until RTS is v; returns the time of that change
    clients, gone      how many clients connected / disconnected so far
    kill()             SIGKILL (the server vanishes); close() stops it
    """

    def __init__(self, extra_arguments=(), port=0):
        self._lock = threading.Condition()
        self._lines = []
        self._rts = []
        self._cts = []
        self._states = []
        self.clients = 0
        self.gone = 0
        self.rts = 0
        self.ended = False
        self.process = subprocess.Popen(
            [PYTHON, PEER_SCRIPT, "--port", str(port), *extra_arguments], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        first = self._wait(lambda: self._lines and self._lines[0], 10.0, "the peer's listening line")
        words = first.split()
        if words[0] != "listening":
            raise RuntimeError(f"unexpected first line of the peer: {first!r}")
        self.port = int(words[1])
        self.url = f"rfc2217://127.0.0.1:{self.port}"

    # -- the peer's output ---------------------------------------------------

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            words = line.split()
            with self._lock:
                self._lines.append(line)
                if words and words[0] == "rts" and len(words) == 3:
                    self.rts = int(words[1])
                    self._rts.append((int(words[1]), int(words[2])))
                elif words and words[0] == "cts" and len(words) == 3:
                    self._cts.append((int(words[1]), int(words[2])))
                elif words and words[0] == "client":
                    self.clients += 1
                elif words and words[0] == "gone":
                    self.gone += 1
                elif words and words[0] == "state":
                    self._states.append(dict(w.split("=", 1) for w in words[1:] if "=" in w))
                self._lock.notify_all()
        with self._lock:
            self.ended = True
            self._lock.notify_all()

    def _wait(self, predicate, timeout, message):
        """Waits (on the reader's notifications, with a deadline) for a true
        predicate() and returns its value."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                value = predicate()
                if value:
                    return value
                remaining = deadline - time.monotonic()
                if remaining <= 0 or (self.ended and not predicate()):
                    stderr = ""
                    if self.ended:
                        stderr = self.process.stderr.read().decode("utf-8", "replace")
                    raise AssertionError(f"timed out after {timeout} s waiting for {message} "
                                         f"on the peer at port {getattr(self, 'port', '?')}"
                                         + (f" (peer ended: {stderr.strip()})" if self.ended else ""))
                self._lock.wait(remaining)

    def lines(self):
        with self._lock:
            return list(self._lines)

    def rts_changes(self):
        """Every RTS change the peer reported: [(value, monotonic ns), ...]."""
        with self._lock:
            return list(self._rts)

    # -- commands ------------------------------------------------------------

    def _end_input(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass

    def _send(self, text):
        self.process.stdin.write((text + "\n").encode())
        self.process.stdin.flush()

    def set_cts(self, value, timeout=5.0):
        """Drives CTS; returns the peer's CLOCK_MONOTONIC time (ns) at which
        the change was applied and its notification sent to the client."""
        value = 1 if value else 0
        with self._lock:
            count = len(self._cts)
        self._send(f"cts {value}")
        applied = self._wait(lambda: len(self._cts) > count and self._cts[count], timeout,
                             f"the answer to cts {value}")
        if applied[0] != value:
            raise AssertionError(f"the peer applied cts {applied[0]}, not {value}")
        return applied[1]

    def state(self, timeout=5.0):
        """The peer's port state: {"rts": "0", "cts": "1", "baud": "9600", ...}."""
        with self._lock:
            count = len(self._states)
        self._send("state")
        return self._wait(lambda: len(self._states) > count and self._states[count], timeout, "a state line")

    def wait_for_rts(self, value, timeout=5.0, after=None):
        """Waits until the port's RTS is `value` (and, with `after`, changed
        to it at or after that time in ns); returns the time of that change,
        or None when RTS has never been reported changed and stands at value."""
        def reached():
            if self.rts != value:
                return False
            if after is None:
                return self._rts[-1] if self._rts else (None, None)
            return next(((v, t) for v, t in self._rts if t >= after and v == value), False)
        return self._wait(reached, timeout, f"RTS={value}")[1]

    def wait_for_client(self, count=1, timeout=10.0):
        self._wait(lambda: self.clients >= count, timeout, f"client connection {count}")

    def wait_for_gone(self, count=1, timeout=10.0):
        self._wait(lambda: self.gone >= count, timeout, f"client disconnection {count}")

    def running(self):
        return self.process.poll() is None

    def kill(self):
        """SIGKILL: the server and its connections vanish at once."""
        kill_process(self.process)

    def close(self):
        """Stops the peer (end of its standard input), killing it if it lingers."""
        end_process(self.process, self._end_input)
        self._end_input()
        self._reader.join(5)
        for stream in (self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class NetworkRig(FootswitchRig):
    """A FootswitchRig whose input and output ports are RFC 2217 peers.

    `network` is the set of port numbers mapped to a NetworkPeer of their
    own (default: those of ComPort and ComPort2, i.e. {1, 2}); the other
    numbers stay on pseudo-terminals. rig.peer(n) is the peer of Com<n>;
    rig.input and rig.output are the peers of ComPort and ComPort2.
    """

    def __init__(self, program, modemlines, settings=None, absent=(), env=None, network=None):
        chosen = {"ComPort": "1", "ComPort2": "2"} if settings is None else dict(settings)
        if network is None:
            network = {int(chosen.get("ComPort", "1")), int(chosen.get("ComPort2", "1"))}
        self._peers = {}
        try:
            for number in sorted(network):
                self._peers[number] = NetworkPeer()
            # The base class writes the settings file, calling
            # _write_initial_settings below, which maps the peers.
            super().__init__(program, modemlines, settings=settings, absent=absent, env=env)
        except BaseException:
            for peer in self._peers.values():
                peer.close()
            raise

    def _write_initial_settings(self):
        super()._write_initial_settings()
        self.write_settings({f"Com{n}": peer.url for n, peer in self._peers.items()}, group="Ports")

    def close(self):
        try:
            super().close()
        finally:
            for peer in self._peers.values():
                peer.close()

    def peer(self, number):
        return self._peers[number]

    def stop_peer(self, number):
        """Kills the peer of Com<number>, as a device server that crashes."""
        self._peers[number].kill()
        self._peers[number].close()

    def start_peer(self, number):
        """Starts a new peer for Com<number> on the port of the last one, as
        a device server that comes back. Returns it."""
        self._peers[number] = NetworkPeer(port=self._peers[number].port)
        return self._peers[number]

    def restart_peer(self, number):
        """Kills the peer of Com<number> and starts a new one on the same
        port, as a device server that comes back after a crash. Returns it."""
        self.stop_peer(number)
        return self.start_peer(number)

    @property
    def input(self):
        return self._peers[self._stored_port("ComPort", "1")]

    @property
    def output(self):
        return self._peers[self._stored_port("ComPort2", "1")]

    def press(self, port=None):
        """CTS high on the input peer; returns the peer's time of the change (ns)."""
        return (port or self.input).set_cts(1)

    def release(self, port=None):
        """CTS low on the input peer; returns the peer's time of the change (ns)."""
        return (port or self.input).set_cts(0)

    def rts(self, port):
        return port.rts

    def wait_for_rts(self, port, value, timeout=5.0):
        return port.wait_for_rts(value, timeout)

    def wait_until_open(self, timeout=10.0):
        """Waits for a clean start: both peers have their client, the input's
        RTS stands high as supply and the output has been told RTS low (its
        line settings confirmed 9600 baud)."""
        self.input.wait_for_client(1, timeout)
        self.output.wait_for_client(1, timeout)
        self.input.wait_for_rts(1, timeout)
        wait_until(lambda: self.output.state().get("baud") == "9600" and self.output.rts == 0, timeout,
                   interval=0.02, message="the output peer set up and released")
        wait_until(lambda: self.input.state().get("baud") == "9600", timeout,
                   interval=0.02, message="the input peer set up")
