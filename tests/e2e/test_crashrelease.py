"""A crash or a library's exit() while keyed leaves the transmitter released.

The program arms its fatal-signal release while the output is keyed: a
SIGSEGV lowers RTS on the output port (a local port through TIOCMBIC, a
network port by the RFC 2217 command written straight to its socket) and
the default action still ends the process with SIGSEGV.

A local output needs no control: the modem-line library keeps RTS as last
written (as a port with -hupcl does) and only the program writes it, so RTS
seen low after the crash was lowered by the program. The network output has
one, as the far end could drop RTS by itself when its client goes: a SIGKILL,
which no handler sees, must leave that output keyed.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_crashrelease.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests  # noqa: E402
from zelvo_e2e.mainwindowdriver import MainWindowDriver  # noqa: E402
from zelvo_e2e.networkpeer import NetworkRig  # noqa: E402

OPTIONS = None


class CrashReleaseCase:
    """The cases, for a rig made by make_rig()."""

    def make_rig(self):
        raise NotImplementedError

    def setUp(self):
        self.rig = self.make_rig()
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.start()
        self.rig.wait_until_open()
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)

    def test_sigsegv_while_keyed_lowers_the_output_and_still_ends_the_process_by_the_signal(self):
        self.rig.send_signal(signal.SIGSEGV)
        self.assertEqual(self.rig.wait(10.0), -signal.SIGSEGV, "the default action of SIGSEGV did not run")
        self.rig.wait_for_rts(self.rig.output, 0)

    def test_a_broken_x_connection_while_keyed_lowers_the_output_as_qt_exits(self):
        # The server closes the connection as when it dies; the test's server lives on.
        subprocess.run(["xdotool", "windowkill", str(MainWindowDriver(self.rig).main_window())], check=True)
        self.assertEqual(self.rig.wait(10.0), 1, "the program did not end by exit(1)")
        self.rig.wait_for_rts(self.rig.output, 0)


class LocalOutputCrash(CrashReleaseCase, ProgramTestCase):
    def make_rig(self):
        return FootswitchRig(OPTIONS.program, OPTIONS.modemlines)


class NetworkOutputCrash(CrashReleaseCase, ProgramTestCase):
    def make_rig(self):
        # Both ports on RFC 2217 peers; the output's is watched.
        return NetworkRig(OPTIONS.program, OPTIONS.modemlines)

    def test_sigkill_while_keyed_leaves_the_output_keyed(self):
        self.rig.kill()
        self.assertEqual(self.rig.process.returncode, -signal.SIGKILL)
        self.rig.output.wait_for_gone(1)
        self.assertEqual(self.rig.rts(self.rig.output), 1,
                         "the peer dropped RTS by itself: the SIGSEGV case would prove nothing")


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
