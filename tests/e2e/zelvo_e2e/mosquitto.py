"""Debian's MQTT broker (package mosquitto) on 127.0.0.1, with a
configuration of its own: anonymous clients, nothing kept on disk, and
optionally TLS only with the rig's certificates.
"""

from .helperprocess import HelperProcess
from .loopback import free_port

BROKER = "/usr/sbin/mosquitto"


class Mosquitto(HelperProcess):
    """port, kill() (SIGKILL: the clients' connections close at once, no
    will is sent), start() again on the same port, close().

    `tls` is a folder of TestCertificates: the listener then speaks TLS
    only, with the server certificate signed by its CA."""

    def __init__(self, port=None, tls=None):
        super().__init__("mosquitto")
        self.port = port or free_port()
        self.tls = tls
        self.start()

    def start(self):
        config = self.path("mosquitto.conf")
        with open(config, "w", encoding="utf-8") as f:
            # set_tcp_nodelay as the README advises: a claim's echo is not
            # held back for an acknowledgement.
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                    "set_tcp_nodelay true\nlog_dest stderr\n")
            if self.tls:
                # Started as root, the broker reads its key after it has
                # become user "mosquitto"; "user root" keeps it able to (and
                # means nothing to a broker started by anyone else).
                f.write(f"user root\ncafile {self.tls}/ca.pem\ncertfile {self.tls}/server.pem\n"
                        f"keyfile {self.tls}/server.key\n")
        self._start([BROKER, "-c", config])

