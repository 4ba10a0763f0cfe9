"""End to end over TLS: the output port on ser2net's TLS accepter.

The real program runs with Com1 (input, the footswitch) on a pseudo-terminal
and Com2 (output, the relay) mapped to rfc2217+tls://127.0.0.1:PORT, served
by ser2net that speaks only TLS and demands a client certificate. ser2net
has the modem-line library preloaded, so the test reads the RTS it drives on
the pseudo-terminal behind it: the remote relay line. The certificates are
made for the run with openssl.

Each refusal leaves the output not available: the program says so in a
message box and the footswitch never keys the remote relay. The reasons in
the message are checked by tests/network/tst_tlsserialport.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_tls.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.certificates import TestCertificates  # noqa: E402
from zelvo_e2e.ser2netpeer import TlsRig  # noqa: E402

OPTIONS = None
CERTIFICATES = None

# A refused TLS connection is retried after a second, then less often: the
# first refusal is reported by then.
MESSAGE_DEADLINE = 20.0


def setUpModule():
    global CERTIFICATES
    folder = tempfile.mkdtemp(prefix="zelvo-tls-")
    unittest.addModuleCleanup(shutil.rmtree, folder, ignore_errors=True)
    CERTIFICATES = TestCertificates(os.path.join(folder, "certificates"))


def tls_files(ca="ca.pem", cert="client.pem", key="client.key"):
    files = {"Ca-File": CERTIFICATES.path(ca)}
    if cert:
        files["Cert-File"] = CERTIFICATES.path(cert)
    if key:
        files["Key-File"] = CERTIFICATES.path(key)
    return files


class TlsTestCase(ProgramTestCase):
    # The files of the group "Tls", by name in the certificates' folder.
    files = {}

    def setUp(self):
        self.rig = TlsRig(OPTIONS.program, OPTIONS.modemlines, CERTIFICATES, tls_files(**self.files),
                          settings={"ComPort": "1", "ComPort2": "2"})
        self.addCleanup(self.rig.close)
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)

    def failure_report(self):
        log = "\n".join(repr(e) for e in self.rig.lines.log() if e.op != "get")
        return [("ser2net", self.rig.ser2net.output()), ("modem-line writes and drives", log)]

    def remote_rts_writes(self):
        return [e.value("RTS") for e in self.rig.lines.writes(self.rig.output.device, "RTS")]


class FootswitchKeysTheRemoteRelayOverTls(TlsTestCase):
    files = {}

    def test_press_keys_the_remote_rts_and_release_drops_it(self):
        self.rig.wait_until_open()
        self.assertEqual(self.rig.rts(self.rig.output), 0, "the remote relay must start released")
        for _ in range(2):
            self.rig.press()
            self.rig.wait_for_rts(self.rig.output, 1)
            self.rig.release()
            self.rig.wait_for_rts(self.rig.output, 0)
        self.assertEqual(self.rig.message_boxes(), [])
        # One remote RTS change per edge after the open: nothing in between.
        writes = self.remote_rts_writes()
        self.assertEqual(writes[-4:], [1, 0, 1, 0], writes)
        self.assertNotIn(1, writes[:-4], "the remote relay keyed before the footswitch was pressed")


class RefusedTlsLeavesTheOutputNotAvailable(TlsTestCase):
    """Base of the refusals: the subclasses say which files are wrong."""

    def check_refused(self):
        wait_until(self.rig.message_boxes, MESSAGE_DEADLINE, message="the message that Com2 is not available")
        self.assertTrue(self.rig.running())
        # The input is open and polled all along: a press is seen, and the
        # remote relay never follows it.
        wait_until(lambda: self.rig.rts(self.rig.input) == 1, 10.0, message="RTS raised on the input port")
        self.rig.press()
        self.rig.wait_ticks(5)
        self.rig.release()
        self.rig.wait_ticks(1)
        self.assertNotIn(1, self.remote_rts_writes(), "the remote relay was keyed over a refused connection")
        self.assertEqual(self.rig.rts(self.rig.output), 0)


class ServerFromAnotherCa(RefusedTlsLeavesTheOutputNotAvailable):
    files = {"ca": "other-ca.pem"}

    def test_server_not_signed_by_the_trusted_ca_is_refused(self):
        self.check_refused()


class KeyReadableByOthers(RefusedTlsLeavesTheOutputNotAvailable):
    files = {"key": "shared.key"}

    def test_private_key_readable_by_others_is_refused(self):
        self.check_refused()
        # Refused before any connection: ser2net never opened the device.
        self.assertEqual(self.remote_rts_writes(), [])


class NoClientCertificate(RefusedTlsLeavesTheOutputNotAvailable):
    files = {"cert": None, "key": None}

    def test_server_demanding_a_client_certificate_refuses_the_connection(self):
        self.check_refused()


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
