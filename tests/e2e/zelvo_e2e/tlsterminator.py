"""TLS in front of a plain TCP server, for RFC 2217 peers that speak none.

TlsTerminator runs socat: it accepts TLS on 127.0.0.1 with the server
certificate of a TestCertificates, demands a client certificate signed by
its CA, and passes the plain stream on to 127.0.0.1:<target>. Put in front
of a NetworkPeer, it makes rfc2217+tls://127.0.0.1:PORT of it.

    with TlsTerminator(certificates, peer.port) as tls:
        url = tls.url                    # rfc2217+tls://127.0.0.1:PORT
"""

import os
import shutil
import subprocess
import tempfile

from .loopback import free_port, listening
from .polling import wait_until


class TlsTerminator:
    def __init__(self, certificates, target_port):
        program = shutil.which("socat")
        if not program:
            raise RuntimeError("socat is not installed (Debian package socat)")
        self.port = free_port()
        self.url = f"rfc2217+tls://127.0.0.1:{self.port}"
        self._dir = tempfile.mkdtemp(prefix="zelvo-socat-")
        self._output_path = os.path.join(self._dir, "socat.out")
        self._output = open(self._output_path, "wb")
        listen = (f"openssl-listen:{self.port},bind=127.0.0.1,reuseaddr,fork,"
                  f"cert={certificates.path('server.pem')},key={certificates.path('server.key')},"
                  f"cafile={certificates.path('ca.pem')},verify=1")
        # nodelay both ways: the RFC 2217 commands are a few bytes each, and
        # Nagle's delay would be measured as the program's.
        self.process = subprocess.Popen([program, listen + ",nodelay", f"tcp:127.0.0.1:{target_port},nodelay"],
                                        stdin=subprocess.DEVNULL, stdout=self._output, stderr=subprocess.STDOUT)
        try:
            wait_until(lambda: listening(self.port) or self.process.poll() is not None, 10.0,
                       message=f"socat listening on {self.port}")
            if self.process.poll() is not None:
                raise RuntimeError(f"socat ended at the start: {self.output()}")
        except BaseException:
            self.close()
            raise

    def output(self):
        try:
            with open(self._output_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

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
