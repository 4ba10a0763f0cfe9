"""End to end: a chain of outputs keyed in order by the program without a
window, two relays on pseudo-terminals and then a radio through rigctld.

Run:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_sequence.py \\
        --program build/zelvo-footswitch2 \\
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.rigctld import Rigctld  # noqa: E402

OPTIONS = None
LEADS = {1: 30, 2: 20}
TAILS = {1: 40, 2: 25}
# The gaps may grow on a loaded machine, never shrink below the setting.
SLACK_MS = 250


class Sequence(ProgramTestCase):
    def setUp(self):
        self.rigctld = Rigctld()
        self.addCleanup(self.rigctld.close)
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.write_settings({
            "Output1-Lead": LEADS[1], "Output1-Tail": TAILS[1],
            "Output2-Kind": "Serial", "Output2-Port": 3, "Output2-Line": "RTS",
            "Output2-Lead": LEADS[2], "Output2-Tail": TAILS[2],
            "Output3-Kind": "CAT", "Output3-Rig-Model": 2, "Output3-Rig-Port": f"127.0.0.1:{self.rigctld.port}",
            # Nothing follows the radio: its own lead and tail change nothing.
            "Output3-Lead": 500, "Output3-Tail": 500,
        }, group="Sequence")

    def failure_report(self):
        return [("rigctld", self.rigctld.output())]

    def moments(self, keyed, after):
        """CLOCK_MONOTONIC ns of each output's change after `after`: the
        program's requests to write the relays' RTS (the modem-line
        library's own file work after them is no part of the program's
        timing), and the radio's step as the engine took it, known to the
        millisecond: its gaps are read in its favour."""
        relays = [self.rig.first_write(self.rig.port(n), "RTS", int(keyed), after) for n in (2, 3)]
        # The footswitch's debounce keeps every step 10 ms after its edge.
        radio = [s for s in self.rig.engine_steps() if s.output == 3 and s.keyed == keyed and s.t > after]
        self.assertTrue(all(relays) and radio, f"a change of the chain missing: {relays} {radio}")
        return [relays[0].req, relays[1].req, radio[0].t]

    def assertGap(self, name, earlier, later, setting_ms):
        gap_ms = (later - earlier) / 1e6
        print(f"{name}: {gap_ms:.2f} ms (set {setting_ms} ms)", file=sys.stderr)
        self.assertGreaterEqual(gap_ms, setting_ms - 1, name)
        self.assertLess(gap_ms, setting_ms + SLACK_MS, name)

    def test_keys_relays_then_the_radio_and_releases_them_last_first_after_their_leads_and_tails(self):
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        self.assertEqual(self.rigctld.ptt(), 0)
        relays = (self.rig.port(2), self.rig.port(3))
        for _ in range(3):
            pressed = self.rig.press()
            wait_until(lambda: self.rigctld.ptt() == 1, 5.0, message="PTT on at rigctld")
            self.assertEqual([self.rig.rts(port) for port in relays], [1, 1])
            one, two, radio = self.moments(True, pressed)
            self.assertGap("key 1 -> 2", one, two, LEADS[1])
            self.assertGap("key 2 -> 3 (radio)", two, radio + 1_000_000, LEADS[2])

            released = self.rig.release()
            self.rig.wait_for_rts(relays[0], 0)
            wait_until(lambda: self.rigctld.ptt() == 0, 5.0, message="PTT off at rigctld")
            one, two, radio = self.moments(False, released)
            self.assertGap("release 3 (radio) -> 2", radio, two, TAILS[2])
            self.assertGap("release 2 -> 1", two, one, TAILS[1])

            # Strictly in order in the engine's own log too, one step each.
            steps = [(s.output, s.keyed) for s in self.rig.engine_steps() if s.t > pressed]
            self.assertEqual(steps, [(1, True), (2, True), (3, True), (3, False), (2, False), (1, False)])
            for port in relays:
                self.assertEqual([e.value("RTS") for e in self.rig.lines.writes(port.device) if e.t > pressed],
                                 [1, 0], port)
        self.assertEqual(self.rig.stop(), 0)
        self.assertEqual(self.rigctld.ptt(), 0)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
