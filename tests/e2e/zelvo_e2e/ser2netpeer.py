"""ser2net in front of a pseudo-terminal, set up as the shipped profile for
the remote site says (resources/ser2net/zelvo-remote.yaml).

ser2net runs with the modem-line library preloaded, so the test reads the
remote RTS and DTR as ser2net wrote them, from the same folder as the
program's own lines (the devices differ). The library does not model the
kernel raising RTS and DTR at open nor dropping them at the last close
(HUPCL): what it shows is what ser2net itself wrote.

    with Ser2netRig(program, modemlines) as rig:   # Com2 behind ser2net
        rig.start()
        rig.wait_until_open()
        rig.press()
        rig.wait_for_rts(rig.output, 1)            # the remote port's RTS
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile

from .footswitchrig import FootswitchRig
from .polling import wait_until

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PROFILE = os.path.join(SOURCE_DIR, "resources", "ser2net", "zelvo-remote.yaml")


def ser2net_program():
    for folder in os.environ.get("PATH", "").split(os.pathsep) + ["/usr/sbin", "/usr/local/sbin"]:
        candidate = os.path.join(folder, "ser2net")
        if os.access(candidate, os.X_OK):
            return candidate
    return None


def profile_for(device_path, port, timeout=None):
    """The shipped profile with its device and TCP port replaced by the
    test's (127.0.0.1 only), and optionally another idle timeout."""
    with open(PROFILE, encoding="utf-8") as f:
        text = f.read()
    text, devices = re.subn(r"serialdev,[^,\s]+,", f"serialdev,{device_path},", text)
    text, ports = re.subn(r"tcp,\d+", f"tcp,127.0.0.1,{port}", text)
    if devices != 1 or ports != 1:
        raise RuntimeError(f"{PROFILE}: expected one serialdev connector and one tcp accepter")
    if timeout is not None:
        text = re.sub(r"(?m)^(\s*timeout:)\s*\d+", rf"\g<1> {timeout}", text)
    return text


def connector_options(text=None):
    """The serialdev options of the profile, e.g. ["9600n81", "local", ...]."""
    if text is None:
        with open(PROFILE, encoding="utf-8") as f:
            text = f.read()
    match = re.search(r"(?m)^\s*connector:\s*serialdev,[^,\s]+,(\S+)", text)
    return match.group(1).split(",")


def idle_timeout(text=None):
    if text is None:
        with open(PROFILE, encoding="utf-8") as f:
            text = f.read()
    return int(re.search(r"(?m)^\s*timeout:\s*(\d+)", text).group(1))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _tcp_table():
    """(local, remote, state) of every IPv4 socket, from /proc/net/tcp;
    addresses as "0100007F:1F90", state "0A" for listening, "01" for
    established."""
    with open("/proc/net/tcp", encoding="ascii") as f:
        rows = [line.split() for line in f.readlines()[1:]]
    return [(r[1].upper(), r[2].upper(), r[3]) for r in rows if len(r) > 3]


def _listening(port):
    """Whether something listens on 127.0.0.1:port (a probe connection
    would open the device behind ser2net)."""
    wanted = f"0100007F:{port:04X}"
    return any(local == wanted and state == "0A" for local, _, state in _tcp_table())


class Ser2net:
    """One ser2net process serving `device_path` on rfc2217://127.0.0.1:PORT
    with the shipped profile, the modem-line library preloaded with its
    files in `lines_dir`.

    url, port, pid, running(), clients(), kill(), close(), output().
    """

    def __init__(self, device_path, modemlines, lines_dir, timeout=None):
        program = ser2net_program()
        if program is None:
            raise RuntimeError("ser2net is not installed (scripts/install-deps.sh)")
        self._dir = tempfile.mkdtemp(prefix="zelvo-ser2net-")
        self.port = free_port()
        self.url = f"rfc2217://127.0.0.1:{self.port}"
        self.config_path = os.path.join(self._dir, "ser2net.yaml")
        with open(self.config_path, "w", encoding="utf-8") as f:
            f.write(profile_for(device_path, self.port, timeout))
        env = dict(os.environ, LD_PRELOAD=os.path.abspath(modemlines), ZELVO_MODEMLINES_DIR=lines_dir)
        env.pop("ZELVO_MODEMLINES_NO_WAIT", None)
        self._output_path = os.path.join(self._dir, "ser2net.out")
        self._output = open(self._output_path, "wb")
        # -n -d: foreground, debug output; -u: no UUCP lock files in the
        # system's lock folder; -P: a pid file of our own.
        self.process = subprocess.Popen(
            [program, "-n", "-d", "-u", "-c", self.config_path, "-P", os.path.join(self._dir, "ser2net.pid")],
            env=env, stdin=subprocess.DEVNULL, stdout=self._output, stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: _listening(self.port) or self.process.poll() is not None, 10.0,
                       message="ser2net listening")
            if self.process.poll() is not None:
                raise RuntimeError(f"ser2net ended: {self.output()}")
        except BaseException:
            self.close()
            raise

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process.poll() is None

    def clients(self):
        """The local ports of the established client connections to ser2net
        (a new connection has a new one)."""
        server = f"0100007F:{self.port:04X}"
        return {int(local.split(":")[1], 16) for local, remote, state in _tcp_table()
                if remote == server and state == "01"}

    def output(self):
        try:
            with open(self._output_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait(10)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.kill()
        self._output.close()
        shutil.rmtree(self._dir, ignore_errors=True)


class Ser2netRig(FootswitchRig):
    """A FootswitchRig whose output port (ComPort2, default Com2) is reached
    through ser2net: the pseudo-terminal of that number stays, ser2net opens
    it, and the settings map the number to ser2net's rfc2217 URL. rig.output
    is still that PseudoPort, so rig.rts(rig.output) and
    rig.wait_for_rts(rig.output, v) read the remote port's RTS as ser2net
    wrote it. rig.ser2net is the Ser2net; `timeout` overrides the profile's.
    """

    def __init__(self, program, modemlines, settings=None, absent=(), env=None, timeout=None):
        self._ser2net_timeout = timeout
        self.ser2net = None
        super().__init__(program, modemlines, settings=settings, absent=absent, env=env)
        try:
            self.ser2net = Ser2net(self.output.path, self.modemlines, self.lines_dir, timeout)
            number = self._stored_port("ComPort2", "1")
            self.write_settings({f"Com{number}": self.ser2net.url}, group="Ports")
        except BaseException:
            super().close()
            raise

    def close(self):
        try:
            if self.process is not None and self.process.poll() is None:
                self.stop()
        finally:
            if self.ser2net is not None:
                self.ser2net.close()
            super().close()
