"""The remote transmitter is released when the program can no longer hold it.

The program's output port is rfc2217://127.0.0.1:PORT served by ser2net 4 with
the shipped profile (resources/ser2net/zelvo-remote.yaml: idle timeout 3 s,
RTS and DTR low at open, lines lowered at close) in front of a pseudo-
terminal; the modem-line library preloaded into ser2net shows the remote
RTS as ser2net wrote it. The input is a pseudo-terminal as in
test_footswitch.py. The program's NUL heartbeat (every 500 ms) is what keeps
ser2net's idle timeout from running out while the program is alive; a frozen
program lets it run out and ser2net drops the transmitter. (A killed one needs
no test of ours: the kernel closes its socket and ser2net lowers the lines at
every close, whatever the profile says.)

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_deadman.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import shutil
import signal
import socket
import sys
import tempfile
import termios
import time
import unittest

import serial  # python3-serial, in Debian's /usr/bin/python3

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import ModemLines, ProgramTestCase, PseudoPort, run_tests, wait_until  # noqa: E402
from zelvo_e2e.ser2netpeer import Ser2net, Ser2netRig, connector_options, idle_timeout  # noqa: E402

OPTIONS = None

# The idle timeout the tests run ser2net with (the profile's own).
TIMEOUT_S = 3
# ser2net looks at its idle timers once a second: it drops a silent
# connection between the timeout and a second later; allow scheduling too.
DROP_WITHIN_S = TIMEOUT_S + 2


class TheShippedProfile(unittest.TestCase):
    """ser2net with the profile alone, a plain client in place of the program."""

    def setUp(self):
        self.lines_dir = tempfile.mkdtemp(prefix="zelvo-profile-")
        self.addCleanup(shutil.rmtree, self.lines_dir, True)
        self.lines = ModemLines(self.lines_dir)
        self.port = PseudoPort()
        self.addCleanup(self.port.close_master)
        self.ser2net = Ser2net(self.port.path, OPTIONS.modemlines, self.lines_dir)
        self.addCleanup(self.ser2net.close)

    def writes(self):
        return [e for e in self.lines.writes(self.port.device, "RTS") if e.pid == self.ser2net.pid]

    def wait_for_rts(self, value, timeout, message):
        """Waits for ser2net's write of RTS=value, in the state file and in
        the log (the library updates the state first); returns its time."""
        def written():
            writes = self.writes()
            return (self.lines.line(self.port.device, "RTS") == value and writes
                    and writes[-1].value("RTS") == value and writes[-1])
        return wait_until(written, timeout, message=message).t

    def test_reads_as_the_help_says(self):
        self.assertEqual(idle_timeout(), TIMEOUT_S)
        options = connector_options()
        for option in ("rts=off", "dtr=off", "hangup-when-done", "local"):
            self.assertIn(option, options)

    def test_a_connection_opens_the_port_with_rts_and_dtr_low_and_hangup_on_close(self):
        with socket.create_connection(("127.0.0.1", self.ser2net.port)):
            # Well before the idle timeout, whose close would write the
            # lines low too.
            first = wait_until(self.writes, TIMEOUT_S - 1, message="ser2net's first write of RTS at open")[0]
            self.assertTrue(self.ser2net.clients(), "the write was the close, not the open")
            self.assertEqual((first.value("RTS"), first.value("DTR")), (0, 0))
            flags = self.port.control_flags()
            self.assertTrue(flags & termios.HUPCL, "hangup-when-done did not set HUPCL")
            self.assertTrue(flags & termios.CLOCAL, "local did not set CLOCAL")

    def test_a_quiet_client_is_dropped_after_the_timeout_and_the_lines_lowered(self):
        client = serial.serial_for_url(self.ser2net.url, baudrate=9600, timeout=1)
        self.addCleanup(client.close)
        client.rts = True
        raised = self.wait_for_rts(1, 10.0, "RTS raised by the client")
        # Nothing more from the client: ser2net's idle timeout runs out.
        dropped = self.wait_for_rts(0, DROP_WITHIN_S + 1, "ser2net lowering RTS of a quiet client")
        dropped_after = (dropped - raised) / 1e9
        self.assertGreaterEqual(dropped_after, TIMEOUT_S - 0.5)
        self.assertLessEqual(dropped_after, DROP_WITHIN_S)
        self.assertEqual(self.lines.line(self.port.device, "DTR"), 0)


class RemoteDeadMan(ProgramTestCase):
    def setUp(self):
        self.rig = Ser2netRig(OPTIONS.program, OPTIONS.modemlines, timeout=TIMEOUT_S)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.start()
        self.wait_until_open()

    def failure_report(self):
        log = "\n".join(repr(e) for e in self.rig.lines.log(self.rig.output.device)[-40:])
        return [("ser2net", self.rig.ser2net.output()), ("remote port log", log)]

    # -- helpers -----------------------------------------------------------

    def wait_until_open(self, timeout=15.0):
        rig = self.rig
        wait_until(lambda: rig.rts(rig.input) == 1, timeout, message="RTS raised on the input port")
        # ser2net opens the device when the program connects, lowering RTS
        # (rts=off); the program then sets the port up and releases it.
        wait_until(lambda: rig.lines.writes(rig.output.device, "RTS"), timeout,
                   message="ser2net opened the remote port")
        rig.wait_until_ready(timeout)
        rig.wait_ticks(1, timeout=timeout)
        self.assertEqual(rig.rts(rig.output), 0)

    def remote_rts(self):
        return self.rig.rts(self.rig.output)

    def key(self):
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)

    def wait_for_remote_rts(self, value, timeout, since_ns):
        """Waits for the remote RTS to stand at `value`; returns the seconds
        from since_ns to the write that set it."""
        self.rig.wait_for_rts(self.rig.output, value, timeout=timeout)
        write = self.rig.lines.writes(self.rig.output.device, "RTS")[-1]
        return (write.t - since_ns) / 1e9

    # -- tests -------------------------------------------------------------

    def test_a_transmitter_held_past_the_idle_timeout_stays_keyed(self):
        self.key()
        keyed_writes = len(self.rig.lines.writes(self.rig.output.device, "RTS"))
        # Only time passing is the point: twice the idle timeout with the
        # footswitch held and nothing but the heartbeat on the line.
        time.sleep(2 * TIMEOUT_S)
        self.assertEqual(self.remote_rts(), 1, "ser2net dropped a live program's connection")
        self.assertEqual(len(self.rig.lines.writes(self.rig.output.device, "RTS")), keyed_writes,
                         "the remote RTS was written while held")
        self.assertTrue(self.rig.running())
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)

    def test_a_frozen_program_is_released_by_ser2net_and_comes_back_released(self):
        self.key()
        before = wait_until(self.rig.ser2net.clients, 5.0, message="the program's connection")
        stopped = time.monotonic_ns()
        self.rig.send_signal(signal.SIGSTOP)
        try:
            dropped_after = self.wait_for_remote_rts(0, DROP_WITHIN_S + 1, stopped)
            self.assertLessEqual(dropped_after, DROP_WITHIN_S)
            self.assertGreaterEqual(dropped_after, TIMEOUT_S - 0.5, "dropped before the idle timeout")
        finally:
            self.rig.send_signal(signal.SIGCONT)
        # The program finds its connection closed and opens a new one in
        # the background; it comes back released although the footswitch
        # is still held, and stays so.
        dropped = len(self.rig.lines.writes(self.rig.output.device, "RTS"))
        wait_until(lambda: self.rig.ser2net.clients() - before, 20.0, message="the program reconnected")
        self.rig.wait_ticks(3)
        since = self.rig.lines.writes(self.rig.output.device, "RTS")[dropped:]
        self.assertTrue(since, "ser2net did not open the port for the new connection")
        self.assertEqual([e.value("RTS") for e in since if e.value("RTS")], [],
                         "keyed again after the freeze without a new press")
        self.assertTrue(self.rig.running())
        # A release and a new press key again.
        self.rig.release()
        self.rig.wait_ticks(2)
        self.assertEqual(self.remote_rts(), 0)
        self.key()
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
