"""The transmit time-out releases a transmitter held too long.

With "Tx-Timeout"=3 in the settings, the program lowers the output's RTS
three seconds after keying, while the footswitch is still held; the held
footswitch then keys nothing until it has been let go, and the next press
keys again. A click on Tx is timed out the same way.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_txtimeout.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests  # noqa: E402
from zelvo_e2e.mainwindowdriver import MainWindowDriver  # noqa: E402

OPTIONS = None

TIMEOUT_S = 3
# The time-out is looked at each 100 ms tick; allow a busy machine.
RELEASED_WITHIN_S = TIMEOUT_S + 2


class TransmitTimeOut(ProgramTestCase):
    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines,
                                 settings={"ComPort": "1", "ComPort2": "2", "Tx-Timeout": str(TIMEOUT_S)})
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.start()
        self.rig.wait_until_open()

    def rts_writes(self):
        return self.rig.lines.writes(self.rig.output.device, "RTS")

    def wait_for_timed_out_release(self):
        """Waits for RTS to drop by itself; returns seconds from the keying
        write to the releasing one."""
        self.rig.wait_for_rts(self.rig.output, 0, timeout=RELEASED_WITHIN_S + 1)
        keyed, released = self.rts_writes()[-2:]
        self.assertEqual((keyed.value("RTS"), released.value("RTS")), (1, 0))
        return (released.t - keyed.t) / 1e9

    def test_a_held_footswitch_is_released_after_the_time_out_and_keys_again_only_after_a_new_press(self):
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        held = self.wait_for_timed_out_release()
        self.assertGreaterEqual(held, TIMEOUT_S - 0.2, "released before the time-out")
        self.assertLessEqual(held, RELEASED_WITHIN_S)
        writes = len(self.rts_writes())
        # Only time passing is the point: still held, nothing keys again.
        time.sleep(TIMEOUT_S)
        self.rig.wait_ticks(2)
        self.assertEqual(self.rig.rts(self.rig.output), 0, "keyed again while the footswitch stayed held")
        self.assertEqual(len(self.rts_writes()), writes)
        self.assertTrue(self.rig.running())
        # Let go (re-arms without touching the output), then press again.
        self.rig.release()
        self.rig.wait_ticks(2)
        self.assertEqual(len(self.rts_writes()), writes)
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)

    def test_a_release_before_the_time_out_gives_the_next_press_a_full_period(self):
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        # Most of a period used up: a time-out that kept counting from the
        # first press would cut the second short.
        time.sleep(TIMEOUT_S - 1)
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.assertGreaterEqual(self.wait_for_timed_out_release(), TIMEOUT_S - 0.2)

    def test_a_click_on_tx_is_released_after_the_time_out(self):
        ui = MainWindowDriver(self.rig)
        ui.activate(ui.main_window())
        ui.click_button("tx")
        self.rig.wait_for_rts(self.rig.output, 1)
        held = self.wait_for_timed_out_release()
        self.assertGreaterEqual(held, TIMEOUT_S - 0.2)
        self.assertLessEqual(held, RELEASED_WITHIN_S)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
