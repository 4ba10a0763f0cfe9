"""End to end: the program without a window, as on a small computer at the
operating position with a footswitch and no screen.

Run (the X server is there only for the windowed copy started alongside):
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_nowindow.py \\
        --program build/zelvo-footswitch2 \\
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests, wait_until  # noqa: E402

OPTIONS = None


class NoWindow(ProgramTestCase):
    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)

    def printed(self, what):
        """The lines the program printed that end in `what`, after the time."""
        return [line for line in self.rig.program_output().splitlines()
                if re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} " + re.escape(what), line)]

    def test_keys_from_the_footswitch_without_a_display_and_ends_released(self):
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        self.assertTrue(self.printed("released output-ready"))

        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        wait_until(lambda: self.printed("keyed-by-footswitch footswitch"), 5.0, message="the keying printed")

        # It holds the one-program lock: a windowed start leaves at once.
        second = self.rig.start_another()
        self.assertEqual(second.wait(10), 0)
        self.assertTrue(self.rig.running())

        # Ended by SIGTERM with the footswitch still held: only the end can
        # have released the relay.
        self.assertEqual(self.rig.stop(), 0)
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "CTS"), 1)
        self.assertEqual(self.rig.rts(self.rig.output), 0)
        self.assertEqual(self.rig.rts(self.rig.input), 0, "the footswitch supply left raised")
        self.assertTrue(self.printed("output-unavailable shutdown"))

    def test_prints_each_warning_of_the_time_out_before_it_releases(self):
        self.rig.close()
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines,
                                 settings={"ComPort": "1", "ComPort2": "2", "Tx-Timeout": "5",
                                           "Tx-Timeout-Warning": "4"})
        self.addCleanup(self.rig.close)
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        self.rig.press()
        wait_until(lambda: self.printed("timed-out timeout"), 10.0, message="the time-out")
        lines = [line.split(" ", 1)[1] for line in self.rig.program_output().splitlines()
                 if re.search(r" (timeout-warning \d+|timed-out timeout)$", line)]
        self.assertEqual(lines, ["timeout-warning 4", "timeout-warning 2", "timed-out timeout"])
        # The state is told as it is entered; the release walk's write follows.
        self.rig.wait_for_rts(self.rig.output, 0)

    def test_version_and_help(self):
        version = subprocess.run([OPTIONS.program, "--version"], capture_output=True, text=True, timeout=10)
        self.assertEqual((version.returncode, version.stdout), (0, "zelvo-footswitch2 1.0.0\n"))
        usage = subprocess.run([OPTIONS.program, "--help"], capture_output=True, text=True, timeout=10)
        self.assertEqual(usage.returncode, 0)
        self.assertIn("--no-window", usage.stdout)

    def test_writes_each_transmission_to_the_time_on_air_file(self):
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        for step in ("press", "release", "press"):
            getattr(self.rig, step)()
            self.rig.wait_for_rts(self.rig.output, int(step == "press"))
        # Still held at SIGTERM: ended by the exit.
        self.assertEqual(self.rig.stop(), 0)
        with open(os.path.join(self.rig.state_home, "zelvo-footswitch2", "time-on-air.csv"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        time = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d"
        self.assertEqual(lines[0], "start,end,seconds,source,ending")
        for line, ending in zip(lines[1:], ("release", "exit"), strict=True):
            self.assertRegex(line, rf"^{time},{time},\d+\.\d{{3}},footswitch,{ending}$")


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
