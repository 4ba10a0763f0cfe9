"""End to end over the network: both ports on RFC 2217 device servers.

The real program runs with Com1 (input, the footswitch) and Com2 (output,
the relay) mapped to rfc2217://127.0.0.1:PORT, each served by a peer of its
own (tests/network/rfc2217peer.py: pyserial's RFC 2217 server over a port
without hardware). The test drives CTS on the input peer and watches RTS on
the output peer, timing both with the peers' CLOCK_MONOTONIC stamps.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_network.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import has_failed, run_tests, wait_until  # noqa: E402
from zelvo_e2e.networkpeer import NetworkRig  # noqa: E402

OPTIONS = None

# One poll tick is 100 ms; the peer notifies a CTS change at once and looks
# again every 10 to 20 ms. Allow the tick, the loopback trip both ways and
# scheduling jitter on a busy machine: this checks that the edge acts in the
# next tick, not how fast.
NEXT_TICK_MS = 250


class NetworkFootswitchKeysTheTransmitter(unittest.TestCase):
    def setUp(self):
        self.rig = NetworkRig(OPTIONS.program, OPTIONS.modemlines, settings={"ComPort": "1", "ComPort2": "2"})
        self.addCleanup(self.rig.close)
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)
        self.rig.wait_until_open()

    def _show_output_on_failure(self):
        if has_failed(self):
            sys.stderr.write(f"--- program output ---\n{self.rig.program_output()}\n"
                             f"--- input peer ---\n" + "\n".join(self.rig.input.lines()) + "\n"
                             f"--- output peer ---\n" + "\n".join(self.rig.output.lines()) + "\n")

    # -- helpers -----------------------------------------------------------

    def edge_latency_ms(self, value):
        """Drives CTS to `value` on the input peer and returns the delay in
        ms from the peer applying it to the output peer's RTS following."""
        applied = self.rig.input.set_cts(value)
        followed = self.rig.output.wait_for_rts(value, timeout=5.0, after=applied)
        return (followed - applied) / 1e6

    def output_rts_values(self):
        return [value for value, _ in self.rig.output.rts_changes()]

    # -- tests -------------------------------------------------------------

    def test_input_rts_is_raised_as_supply_and_output_starts_released(self):
        inp, out = self.rig.input.state(), self.rig.output.state()
        self.assertEqual(inp["rts"], "1", "the input's RTS is the footswitch's supply")
        self.assertEqual(out["rts"], "0", "the output must start released")
        for state in (inp, out):
            self.assertEqual((state["baud"], state["bytesize"], state["parity"], state["stopbits"], state["rtscts"]),
                             ("9600", "8", "N", "1", "0"))
            self.assertEqual(state["client"], "1")
        # The peer raises RTS as a client connects, as some servers do; the
        # program lowers the output's at the open and never raises it.
        self.assertEqual(self.output_rts_values(), [1, 0])
        self.assertEqual(self.rig.input.rts_changes()[-1][0], 1)
        self.assertEqual(self.rig.message_boxes(), [])
        self.assertTrue(self.rig.windows("^Zelvo-Footswitch$"), "main window not shown")

    def test_cts_on_the_input_peer_keys_the_output_peer_at_the_next_tick(self):
        # Each edge follows right after the tick that acted on the one before,
        # so it waits nearly a whole tick: the slow case, a few times over.
        pressed, released = [], []
        for _ in range(3):
            pressed.append(self.edge_latency_ms(1))
            released.append(self.edge_latency_ms(0))
        for latency in pressed + released:
            self.assertGreaterEqual(latency, 0.0)
            self.assertLessEqual(latency, NEXT_TICK_MS,
                                 f"edge to RTS took {latency:.1f} ms (presses {pressed}, releases {released})")
        # One RTS change per edge, no glitch in between.
        self.assertEqual(self.output_rts_values(), [1, 0] + [1, 0] * 3)
        self.assertEqual(self.rig.input.state()["rts"], "1", "the supply is never touched by the footswitch")

    def test_killing_the_input_peer_while_keyed_releases_the_output(self):
        self.edge_latency_ms(1)
        self.assertEqual(self.rig.output.rts, 1)
        killed = time.monotonic_ns()
        self.rig.input.kill()
        released = self.rig.output.wait_for_rts(0, timeout=5.0, after=killed)
        self.assertLess((released - killed) / 1e9, 5.0)
        self.assertTrue(self.rig.running(), "the program ended when the input's server vanished")
        # The output's connection stays up and its transmitter stays released.
        self.assertEqual(self.rig.output.gone, 0)
        state = self.rig.output.state()
        self.assertEqual((state["rts"], state["client"]), ("0", "1"))

    def test_ending_the_program_while_keyed_releases_the_output(self):
        self.edge_latency_ms(1)
        self.rig.send_signal(signal.SIGTERM)
        self.rig.output.wait_for_gone(1, timeout=10.0)
        self.assertEqual(self.rig.output.rts, 0, "the transmitter was left keyed by a program that ended")
        wait_until(lambda: not self.rig.running(), 10.0, message="the program to end")
        self.assertEqual(self.rig.stop(), 0)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
