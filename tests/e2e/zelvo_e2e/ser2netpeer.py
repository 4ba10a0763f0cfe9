"""ser2net 4 as the far end of a network port, in front of a pseudo-terminal.

Ser2net runs ser2net in the foreground with one connection: an RFC 2217
accepter on 127.0.0.1 in front of one serial device. By default the
connection is the shipped profile for the remote site
(resources/ser2net/zelvo-remote.yaml) with the test's device and port;
PLAIN_PROFILE is one without its safety settings. With `certificates` (a
TestCertificates) the accepter speaks TLS only and demands a client
certificate, which it checks against the certificates' authdir
(<client name>/allowed_certs/).

ser2net runs with the modem-line library preloaded, so the test reads the
remote RTS and DTR as ser2net wrote them, from the same folder as the
program's own lines (the devices differ). The library does not model the
kernel raising RTS and DTR at open nor dropping them at the last close
(HUPCL): what it shows is what ser2net itself wrote.

Ser2netRig is a FootswitchRig whose output port is such a ser2net; TlsRig
is one over TLS, with the program's certificate files in its settings.

    with Ser2netRig(program, modemlines) as rig:   # Com2 behind ser2net
        rig.start()
        rig.wait_until_open()
        rig.press()
        rig.wait_for_rts(rig.output, 1)            # the remote port's RTS

    with TlsRig(program, modemlines, certificates, tls={"Ca-File": ..., ...}) as rig:
        ...                                         # the same over rfc2217+tls://
"""

import os
import re
import shutil

from .footswitchrig import FootswitchRig
from .helperprocess import HelperProcess
from .loopback import client_ports, free_port

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PROFILE = os.path.join(SOURCE_DIR, "resources", "ser2net", "zelvo-remote.yaml")

# A connection without the remote profile's safety settings: no idle
# timeout, RTS and DTR left as the kernel and the client set them.
PLAIN_PROFILE = ("connection: &test\n"
                 "  accepter: telnet(rfc2217),tcp,3001\n"
                 "  timeout: 0\n"
                 "  connector: serialdev,/dev/null,9600n81,local\n")


def ser2net_program():
    return shutil.which("ser2net") or shutil.which("ser2net", path="/usr/sbin:/usr/local/sbin")


def shipped_profile():
    with open(PROFILE, encoding="utf-8") as f:
        return f.read()


def profile_for(device_path, port, timeout=None, certificates=None, profile=None, connector=None,
                server_certificate="server"):
    """`profile` (default the shipped one) with its device and TCP port
    replaced by the test's (127.0.0.1 only), optionally another idle
    timeout and other connector options (e.g. "19200e72,rtscts,local"), and
    with `certificates` a TLS accepter that demands a client certificate,
    presenting <server_certificate>.pem."""
    text = shipped_profile() if profile is None else profile
    options = r"\S+" if connector else ""
    text, devices = re.subn(r"serialdev,[^,\s]+," + options, f"serialdev,{device_path}," + (connector or ""), text)
    tls = ""
    if certificates is not None:
        tls = (f"ssl(key={certificates.path('server.key')},cert={certificates.path(server_certificate + '.pem')},"
               f"CA={certificates.path('ca.pem')},clientauth),")
    text, ports = re.subn(r"tcp,\d+", f"{tls}tcp,127.0.0.1,{port}", text)
    if devices != 1 or ports != 1:
        raise RuntimeError("a ser2net profile for the tests has one serialdev connector and one tcp accepter")
    if timeout is not None:
        text = re.sub(r"(?m)^(\s*timeout:)\s*\d+", rf"\g<1> {timeout}", text)
    if certificates is not None:
        if re.search(r"(?m)^\s*options:", text):
            raise RuntimeError("the ser2net profile has options of its own: add the authdir there")
        text = text.rstrip("\n") + f"\n  options:\n    authdir: {certificates.auth_directory}\n"
    return text


def connector_options(text=None):
    """The serialdev options of the profile, e.g. ["9600n81", "local", ...]."""
    if text is None:
        text = shipped_profile()
    match = re.search(r"(?m)^\s*connector:\s*serialdev,[^,\s]+,(\S+)", text)
    return match.group(1).split(",")


def idle_timeout(text=None):
    if text is None:
        text = shipped_profile()
    return int(re.search(r"(?m)^\s*timeout:\s*(\d+)", text).group(1))


class Ser2net(HelperProcess):
    """One ser2net process serving `device_path` at 127.0.0.1:PORT, with the
    modem-line library `modemlines` preloaded and its files in `lines_dir`.

    url        rfc2217://127.0.0.1:PORT (rfc2217+tls:// with certificates)
    clients()  the local ports of the established client connections
    port, pid, running(), output(), kill(), close() as every HelperProcess
    """

    def __init__(self, device_path, modemlines=None, lines_dir=None, timeout=None, certificates=None,
                 profile=None, connector=None, server_certificate="server"):
        program = ser2net_program()
        if program is None:
            raise RuntimeError("ser2net is not installed (scripts/install-deps.sh)")
        super().__init__("ser2net")
        self.port = free_port()
        scheme = "rfc2217" if certificates is None else "rfc2217+tls"
        self.url = f"{scheme}://127.0.0.1:{self.port}"
        self.config_path = self.path("ser2net.yaml")
        try:
            with open(self.config_path, "w", encoding="utf-8") as f:
                f.write(profile_for(device_path, self.port, timeout, certificates, profile, connector,
                                    server_certificate))
        except BaseException:
            self.close()
            raise
        env = dict(os.environ)
        if modemlines:
            env.update(LD_PRELOAD=os.path.abspath(modemlines), ZELVO_MODEMLINES_DIR=lines_dir)
            env.pop("ZELVO_MODEMLINES_NO_WAIT", None)
        # -n -d: foreground, debug output; -u: no UUCP lock files in the
        # system's lock folder; -P: a pid file of our own.
        self._start([program, "-n", "-d", "-u", "-c", self.config_path, "-P", self.path("ser2net.pid")], env=env)

    def clients(self):
        """The local ports of the established client connections to ser2net
        (a new connection has a new one)."""
        return client_ports(self.port)


class Ser2netRig(FootswitchRig):
    """A FootswitchRig whose output port (ComPort2, default Com2) is reached
    through ser2net: the pseudo-terminal of that number stays, ser2net opens
    it, and the settings map the number to ser2net's URL. rig.output is
    still that PseudoPort, so rig.rts(rig.output) and
    rig.wait_for_rts(rig.output, v) read the remote port's RTS as ser2net
    wrote it. rig.ser2net is the Ser2net; `timeout`, `certificates` and
    `profile` are passed on to it.
    """

    def __init__(self, program, modemlines, settings=None, absent=(), env=None, timeout=None, certificates=None,
                 profile=None):
        self.ser2net = None
        super().__init__(program, modemlines, settings=settings, absent=absent, env=env)
        try:
            self.ser2net = Ser2net(self.output.path, self.modemlines, self.lines_dir, timeout=timeout,
                                   certificates=certificates, profile=profile)
            number = self._stored_port("ComPort2", "1")
            self.write_settings({f"Com{number}": self.ser2net.url}, group="Ports")
        except BaseException:
            super().close()
            raise

    def close(self):
        # The program first (it releases the remote RTS as it ends), then
        # ser2net, while the modem-line folder it writes to still exists.
        try:
            if self.process is not None and self.process.poll() is None:
                self.stop()
        finally:
            if self.ser2net is not None:
                self.ser2net.close()
            super().close()


class TlsRig(Ser2netRig):
    """A Ser2netRig over TLS with a client certificate demanded, on
    PLAIN_PROFILE.

    `certificates` is a TestCertificates; `tls` the keys of the settings
    group "Tls" (Ca-File, Cert-File, Key-File), written before the start.
    """

    def __init__(self, program, modemlines, certificates, tls, settings=None, env=None):
        super().__init__(program, modemlines, settings=settings, env=env, certificates=certificates,
                         profile=PLAIN_PROFILE)
        if tls:
            self.write_settings(tls, group="Tls")
