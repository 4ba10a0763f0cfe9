"""ser2net as the far end of a network port, in front of a pseudo-terminal.

Ser2netServer runs ser2net 4 in the foreground with a configuration of its
own: one RFC 2217 accepter on 127.0.0.1 in front of one serial device. With
`certificates` (a TestCertificates) the accepter speaks TLS only and demands
a client certificate, which it checks against the authdir of the
certificates (<client name>/allowed_certs/).

With the modem-line library preloaded (`modemlines` and `lines_dir`), what
ser2net does to the device's RTS shows in the library's files, as it does
for the program's own pseudo-terminals.

TlsRig is a FootswitchRig whose output port is such a server: the program's
input stays on a pseudo-terminal, its output is rfc2217+tls://127.0.0.1:PORT
and ser2net drives the RTS of the rig's own pseudo-terminal of that number,
so rig.wait_for_rts(rig.output, 1) reads the remote RTS.

    with TlsRig(program, modemlines, tls={"Ca-File": ..., ...}) as rig:
        rig.start()
        rig.wait_until_open()
        rig.press()
        rig.wait_for_rts(rig.output, 1)
"""

import os
import shutil
import subprocess
import tempfile

from .footswitchrig import FootswitchRig
from .loopback import free_port, listening
from .polling import wait_until


def ser2net_program():
    return shutil.which("ser2net") or shutil.which("ser2net", path="/usr/sbin:/usr/local/sbin")


class Ser2netServer:
    """One ser2net process serving `device_path` at 127.0.0.1:port.

    url       rfc2217+tls://127.0.0.1:PORT (rfc2217:// without certificates)
    output()  what ser2net printed so far (it runs with -d)
    close()   stops it
    """

    def __init__(self, device_path, certificates=None, modemlines=None, lines_dir=None,
                 connector="9600n81,local"):
        program = ser2net_program()
        if not program:
            raise RuntimeError("ser2net is not installed (Debian package ser2net)")
        self._dir = tempfile.mkdtemp(prefix="zelvo-ser2net-")
        self.port = free_port()
        tls, options = "", ""
        if certificates is not None:
            tls = (f"ssl(key={certificates.path('server.key')},cert={certificates.path('server.pem')},"
                   f"CA={certificates.path('ca.pem')},clientauth),")
            options = f"  options:\n    authdir: {certificates.auth_directory}\n"
        scheme = "rfc2217+tls" if certificates is not None else "rfc2217"
        self.url = f"{scheme}://127.0.0.1:{self.port}"
        config = os.path.join(self._dir, "ser2net.yaml")
        with open(config, "w", encoding="utf-8") as f:
            f.write("connection: &test\n"
                    f"  accepter: telnet(rfc2217),{tls}tcp,127.0.0.1,{self.port}\n"
                    "  timeout: 0\n"
                    f"  connector: serialdev,{device_path},{connector}\n"
                    f"{options}")
        env = dict(os.environ)
        if modemlines:
            env["LD_PRELOAD"] = os.path.abspath(modemlines)
            env["ZELVO_MODEMLINES_DIR"] = lines_dir
        self._output_path = os.path.join(self._dir, "ser2net.out")
        self._output = open(self._output_path, "wb")
        # -n -d: foreground, debug output; -u: no lock files in the system's
        # lock directory; -P: a pid file of our own.
        self.process = subprocess.Popen(
            [program, "-n", "-d", "-u", "-c", config, "-P", os.path.join(self._dir, "ser2net.pid")],
            env=env, stdin=subprocess.DEVNULL, stdout=self._output, stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: listening(self.port) or self.process.poll() is not None, 10.0,
                       message=f"ser2net listening on {self.port}")
            if self.process.poll() is not None:
                raise RuntimeError(f"ser2net ended at the start: {self.output()}")
        except BaseException:
            self.close()
            raise

    def output(self):
        try:
            with open(self._output_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def running(self):
        return self.process.poll() is None

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._output.close()
        shutil.rmtree(self._dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class TlsRig(FootswitchRig):
    """A FootswitchRig whose output port (ComPort2) is served by ser2net over
    TLS with a client certificate demanded.

    `certificates` is a TestCertificates; `tls` the keys of the settings
    group "Tls" (Ca-File, Cert-File, Key-File), written before the start.
    rig.server is the Ser2netServer; rig.output is the pseudo-terminal behind
    it, whose RTS ser2net drives for the program.
    """

    def __init__(self, program, modemlines, certificates, tls, settings=None, env=None):
        super().__init__(program, modemlines, settings=settings, env=env)
        try:
            self.server = Ser2netServer(self.output.path, certificates, modemlines=self.modemlines,
                                        lines_dir=self.lines_dir)
        except BaseException:
            super().close()
            raise
        self.write_settings({f"Com{self._stored_port('ComPort2', '1')}": self.server.url}, group="Ports")
        if tls:
            self.write_settings(tls, group="Tls")

    def close(self):
        # The program first (it releases the remote RTS as it ends), then
        # ser2net, while the modem-line folder it writes to still exists.
        try:
            if self.process is not None and self.process.poll() is None:
                self.stop()
            server = getattr(self, "server", None)
            if server is not None:
                server.close()
        finally:
            super().close()

    def wait_until_open(self, timeout=10.0):
        """Waits for a clean start: the input's RTS raised as supply, the
        remote RTS written low by ser2net for the program, and a first poll
        tick read the input."""
        wait_until(lambda: self.rts(self.input) == 1, timeout, message="RTS raised on the input port")
        wait_until(lambda: self.lines.writes(self.output.device, "RTS"), timeout,
                   message="ser2net opening the output's device")
        self.wait_ticks(1, timeout=timeout)
