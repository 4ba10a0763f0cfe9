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

An orderly end keeps its tails when a second SIGTERM or SIGINT comes.

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


class SecondTerminationSignal(ProgramTestCase):
    def end_twice_during_the_walk(self, sig, *arguments):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.write_settings({"Output1-Tail": 1000, "Output2-Kind": "Serial", "Output2-Port": 3}, group="Sequence")
        self.rig.start(*arguments, display=not arguments)
        self.rig.wait_until_open()
        pressed = self.rig.press()
        self.rig.wait_for_rts(self.rig.port(3), 1)
        for _ in range(2):  # the second while the first output's tail runs
            self.rig.send_signal(sig)
            self.rig.wait_for_rts(self.rig.port(3), 0)
        self.assertEqual(self.rig.wait(10.0), 0)
        last, first = (self.rig.first_write(port, "RTS", 0, pressed) for port in (self.rig.port(3), self.rig.output))
        self.assertGreaterEqual((first.req - last.req) / 1e6, 999, "the tail was cut")

    def test_a_second_sigterm_keeps_the_tail_of_the_window_s_release_walk(self):
        self.end_twice_during_the_walk(signal.SIGTERM)

    def test_a_second_sigint_keeps_the_tail_of_the_release_walk_without_a_window(self):
        self.end_twice_during_the_walk(signal.SIGINT, "--no-window")


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
