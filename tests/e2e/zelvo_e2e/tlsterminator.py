"""TLS in front of a plain TCP server, for RFC 2217 peers that speak none.

TlsTerminator runs socat: it accepts TLS on 127.0.0.1 with the server
certificate of a TestCertificates, demands a client certificate signed by
its CA, and passes the plain stream on to 127.0.0.1:<target>. Put in front
of a NetworkPeer, it makes rfc2217+tls://127.0.0.1:PORT of it.

    with TlsTerminator(certificates, peer.port) as tls:
        url = tls.url                    # rfc2217+tls://127.0.0.1:PORT
"""

import shutil

from .helperprocess import HelperProcess
from .loopback import free_port


class TlsTerminator(HelperProcess):
    def __init__(self, certificates, target_port):
        program = shutil.which("socat")
        if not program:
            raise RuntimeError("socat is not installed (Debian package socat)")
        super().__init__("socat")
        self.port = free_port()
        self.url = f"rfc2217+tls://127.0.0.1:{self.port}"
        listen = (f"openssl-listen:{self.port},bind=127.0.0.1,reuseaddr,fork,"
                  f"cert={certificates.path('server.pem')},key={certificates.path('server.key')},"
                  f"cafile={certificates.path('ca.pem')},verify=1")
        # nodelay both ways: the RFC 2217 commands are a few bytes each, and
        # Nagle's delay would be measured as the program's.
        self._start([program, listen + ",nodelay", f"tcp:127.0.0.1:{target_port},nodelay"])
