"""Certificates for TLS tests, made with the openssl command for each run.

    certificates = TestCertificates(folder)     # makes them all at once
    certificates.path("ca.pem")

In the folder:
    ca.pem, ca.key              the CA both sides trust
    other-ca.pem, other-ca.key  a CA nobody trusts
    server.pem, server.key      the server's certificate for 127.0.0.1 (from ca)
    expired.pem                 the same request signed to have expired already
    client.pem, client.key      the client "radio-client" (from ca), key 0600
    stranger.pem                the same request signed by other-ca
    shared.key                  the same client key, readable by others (0644)
    auth/radio-client/allowed_certs/
                                what ser2net trusts for the client named
                                radio-client: ca.pem, rehashed

The server certificate names 127.0.0.1 (subjectAltName IP): a client must
use that address, not "localhost".

The C++ tests make theirs with this module too, as the rig's command
"python3 -m zelvo_e2e certificates FOLDER" (see __main__.py).
"""

import os
import shutil
import subprocess

CLIENT_NAME = "radio-client"
SERVER_ADDRESS = "127.0.0.1"


class TestCertificates:
    def __init__(self, folder, days=30, make=True):
        """Makes the certificates in `folder`, or with make=False stands for
        those another run made there."""
        self.folder = folder
        self.days = str(days)
        if make:
            os.makedirs(folder, mode=0o700, exist_ok=True)
            if shutil.which("openssl") is None:
                raise RuntimeError("openssl is not installed (Debian package openssl)")
            self._make()

    def path(self, name):
        return os.path.join(self.folder, name)

    @property
    def auth_directory(self):
        """ser2net's authdir: <client common name>/allowed_certs/ below it."""
        return self.path("auth")

    def _openssl(self, *arguments):
        result = subprocess.run(["openssl", *arguments], cwd=self.folder, capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"openssl {' '.join(arguments)}: {result.stderr.strip()}")

    def _write(self, name, text):
        with open(self.path(name), "w", encoding="ascii") as f:
            f.write(text)

    def _ca(self, name, subject):
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", self.days, "-subj", subject,
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign",
                      "-keyout", name + ".key", "-out", name + ".pem")

    def _leaf(self, name, subject, ca, extensions):
        self._openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", subject,
                      "-keyout", name + ".key", "-out", name + ".csr")
        self._sign(name, name, ca, extensions, self.days)
        # The program refuses a private key that others can read.
        os.chmod(self.path(name + ".key"), 0o600)

    def _sign(self, request, name, ca, extensions, days):
        self._openssl("x509", "-req", "-in", request + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
                      "-CAcreateserial", "-days", days, "-extfile", extensions, "-out", name + ".pem")

    def _make(self):
        self._ca("ca", "/CN=Zelvo Test CA")
        self._ca("other-ca", "/CN=Other CA")
        self._write("server.ext", "basicConstraints=CA:FALSE\n"
                                  f"subjectAltName=IP:{SERVER_ADDRESS}\nextendedKeyUsage=serverAuth\n")
        self._write("client.ext", "basicConstraints=CA:FALSE\nextendedKeyUsage=clientAuth\n")
        self._leaf("server", f"/CN={SERVER_ADDRESS}", "ca", "server.ext")
        self._leaf("client", f"/CN={CLIENT_NAME}", "ca", "client.ext")
        self._sign("server", "expired", "ca", "server.ext", "-1")  # valid until before it was made
        self._sign("client", "stranger", "other-ca", "client.ext", self.days)
        shutil.copyfile(self.path("client.key"), self.path("shared.key"))
        os.chmod(self.path("shared.key"), 0o644)
        # ser2net looks for the issuer of a client certificate in a folder
        # named after the client, by subject hash (hence the rehash).
        allowed = os.path.join(self.auth_directory, CLIENT_NAME, "allowed_certs")
        os.makedirs(allowed)
        shutil.copyfile(self.path("ca.pem"), os.path.join(allowed, "ca.pem"))
        self._openssl("rehash", allowed)
