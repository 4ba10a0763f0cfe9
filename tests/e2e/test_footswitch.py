"""End to end: the footswitch on the input port's CTS keys RTS on the output port.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_footswitch.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests  # noqa: E402

OPTIONS = None


class FootswitchKeysTheTransmitter(ProgramTestCase):
    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines,
                                 settings={"ComPort": "1", "ComPort2": "2"})
        self.addCleanup(self.rig.close)
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)
        self.rig.wait_until_open()
        self.supply_at_start = self.input_rts_writes()

    # -- helpers -----------------------------------------------------------

    def assert_acted_at_next_tick(self, edge, cts, rts):
        """The poll read that first saw the new CTS (the first read after the
        change at the latest) was followed by the RTS write on the output
        port, with nothing but the reads that confirm the new level (the
        debounce) in between: the chain acted on the first sight of the
        change, not a tick late."""
        log = self.rig.lines.log()
        inp, out = self.rig.input.device, self.rig.output.device
        drive = next(i for i, e in enumerate(log) if e.op == "drive" and e.dev == inp and e.t == edge)
        earlier = [i for i, e in enumerate(log[:drive]) if e.op == "drive" and e.dev == inp]
        since = earlier[-1] + 1 if earlier else 0

        reads = [i for i in range(since, len(log)) if log[i].dev == inp and log[i].op == "get"]
        acting = next(i for i in reads if log[i].value("CTS") == cts)
        first_after_change = next(i for i in reads if i > drive)
        self.assertLessEqual(acting, first_after_change, "the first read after the change missed it")

        write = next(i for i in range(acting, len(log))
                     if log[i].dev == out and log[i].op != "drive" and log[i].writes("RTS"))
        self.assertEqual(log[write].value("RTS"), rts)
        between = [log[i].value("CTS") for i in reads if acting < i < write]
        self.assertEqual([value for value in between if value != cts], [], "RTS was written a tick late")

    def input_rts_writes(self):
        return [e.value("RTS") for e in self.rig.lines.writes(self.rig.input.device, "RTS")]

    def output_rts_writes(self):
        return [e.value("RTS") for e in self.rig.lines.writes(self.rig.output.device, "RTS")]

    # -- tests -------------------------------------------------------------

    def test_input_rts_is_raised_as_supply_and_output_starts_released(self):
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "RTS"), 1)
        # Opened with RTS as recorded (low), then raised as supply.
        self.assertEqual(self.supply_at_start, [0, 1])
        self.assertEqual(self.rig.lines.line(self.rig.output.device, "RTS"), 0)
        self.assertEqual(self.output_rts_writes(), [0], "the open drives the output low once")
        self.assertEqual(self.rig.message_boxes(), [])
        self.assertTrue(self.rig.windows("^Zelvo-Footswitch$"), "main window not shown")

    def test_raising_cts_raises_output_rts_at_the_next_tick(self):
        edge = self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.assert_acted_at_next_tick(edge, cts=1, rts=1)

    def test_releasing_cts_lowers_output_rts_at_the_next_tick(self):
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        edge = self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)
        self.assert_acted_at_next_tick(edge, cts=0, rts=0)

    def test_each_edge_writes_rts_once(self):
        for _ in range(2):
            self.rig.press()
            self.rig.wait_for_rts(self.rig.output, 1)
            self.rig.wait_ticks(5)
            self.rig.release()
            self.rig.wait_for_rts(self.rig.output, 0)
            self.rig.wait_ticks(5)
        # The open's write, then one per edge.
        self.assertEqual(self.output_rts_writes(), [0, 1, 0, 1, 0])
        # The input's supply is never touched by the footswitch.
        self.assertEqual(self.input_rts_writes(), self.supply_at_start)
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "RTS"), 1)

    def test_the_footswitch_is_read_from_the_input_port_only(self):
        # CTS on the output port (or any other) is not the footswitch.
        self.rig.lines.drive(self.rig.output.device, CTS=1)
        self.rig.lines.drive(self.rig.port(3).device, CTS=1)
        self.rig.wait_ticks(3)
        self.assertEqual(self.output_rts_writes(), [0])
        self.assertEqual(self.rig.lines.reads(self.rig.port(3).device), [])


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
