"""End to end: a chain of outputs keyed in order by the program without a
window, two relays on pseudo-terminals and then a radio through rigctld,
reached through a relay that holds back each of rigctld's answers 80 ms (a
slow CAT link). The radio's moments come from rigctld itself, read through a
connection of the test's own; the relays' from the modem-line log. The chain
is keyed by the footswitch, then by Hamlib's rigctl through the program's
PTT server.

Run:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_sequence.py \\
        --program build/zelvo-footswitch2 \\
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.catrelay import CatRelay  # noqa: E402
from zelvo_e2e.loopback import free_port  # noqa: E402
from zelvo_e2e.rigctld import PttWatcher, Rigctld  # noqa: E402

OPTIONS = None
LEADS = {1: 40, 2: 25}
TAILS = {1: 60, 2: 30}
ANSWER_DELAY_MS = 80
# The gaps may grow on a loaded machine, never shrink below the setting.
SLACK_MS = 250


class Sequence(ProgramTestCase):
    def setUp(self):
        self.rigctld = Rigctld()
        self.addCleanup(self.rigctld.close)
        self.slow_link = CatRelay(self.rigctld.port, delay_ms=ANSWER_DELAY_MS)
        self.addCleanup(self.slow_link.close)
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.write_settings({
            "Output1-Lead": LEADS[1], "Output1-Tail": TAILS[1],
            "Output2-Kind": "Serial", "Output2-Port": 3, "Output2-Line": "DTR",
            "Output2-Lead": LEADS[2], "Output2-Tail": TAILS[2],
            "Output3-Kind": "CAT", "Output3-Rig-Model": 2, "Output3-Rig-Port": f"127.0.0.1:{self.slow_link.port}",
            # Nothing follows the radio: its own lead and tail change nothing.
            "Output3-Lead": 500, "Output3-Tail": 500,
        }, group="Sequence")

    def failure_report(self):
        return [("rigctld", self.rigctld.output())]

    def assertGap(self, name, earlier, later, setting_ms):
        gap_ms = (later - earlier) / 1e6
        print(f"{name}: {gap_ms:.2f} ms (set {setting_ms} ms)", file=sys.stderr)
        self.assertGreaterEqual(gap_ms, setting_ms - 1, name)
        # A radio's step is two round trips on the slow link: set, then read back.
        self.assertLess(gap_ms, setting_ms + 3 * ANSWER_DELAY_MS + SLACK_MS, name)

    def relay_moments(self, value, after):
        one = self.rig.first_write(self.rig.port(2), "RTS", value, after)
        two = self.rig.first_write(self.rig.port(3), "DTR", value, after)
        self.assertTrue(one and two, f"a relay's change missing: {one} {two}")
        return one.req, two.req

    def test_relays_wait_for_the_radio_and_a_silent_radio_releases_them(self):
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        self.assertEqual(self.rigctld.ptt(), 0)
        relays = (self.rig.port(2), self.rig.port(3))
        watcher = PttWatcher(self.rigctld.port)
        self.addCleanup(watcher.close)
        for _ in range(3):
            pressed = self.rig.press()
            wait_until(lambda: watcher.first_on(pressed), 5.0, message="PTT on at rigctld")
            one, two = self.relay_moments(1, pressed)
            self.assertGap("key 1 -> 2", one, two, LEADS[1])
            # Keyed only after relay 2's lead, counted from its line read back.
            self.assertGap("key 2 -> radio on", two, watcher.first_on(pressed), LEADS[2])

            released = self.rig.release()
            self.rig.wait_for_rts(relays[0], 0)
            one, two = self.relay_moments(0, released)
            # rigctld's own view: no reading begun after relay 2 dropped saw
            # PTT on, and relay 2 dropped its tail after the radio had
            # stopped (the readings bound that moment from above).
            self.assertEqual([s for s, _, v in watcher.readings if v and s > two], [],
                             "PTT on at rigctld after relay 2 dropped")
            last_on = watcher.last_on_before(two)
            radio_off = min(answered for sent, answered, v in watcher.readings if not v and sent > last_on)
            self.assertGap("radio off -> release 2", radio_off, two, TAILS[2])
            self.assertGap("release 2 -> 1", two, one, TAILS[1])
            for port, line in zip(relays, ("RTS", "DTR")):
                self.assertEqual([e.value(line) for e in self.rig.lines.writes(port.device, line) if e.t > pressed],
                                 [1, 0], port)

        # rigctld dies while keyed: the relays are released within a second.
        self.rig.press()
        wait_until(lambda: self.rigctld.ptt() == 1, 5.0, message="PTT on at rigctld")
        self.rig.wait_for_line(relays[1], "DTR", 1)
        watcher.close()
        self.rigctld.kill()
        killed = time.monotonic_ns()
        self.rig.wait_for_rts(relays[0], 0, timeout=5.0)
        one, two = self.relay_moments(0, killed)
        print(f"rigctld killed -> release 2: {(two - killed) / 1e6:.1f} ms, -> release 1: {(one - killed) / 1e6:.1f} ms",
              file=sys.stderr)
        self.assertLess(two - killed, 1_000_000_000)
        self.assertLess(two, one)
        self.rig.release()

        # Back on the same port, the radio keys again through the chain.
        readies = self.rig.program_output().count("Cause::OutputReady")
        self.rigctld.start()
        wait_until(lambda: self.rig.program_output().count("Cause::OutputReady") > readies, 15.0,
                   message="the chain ready again")
        self.rig.press()
        wait_until(lambda: self.rigctld.ptt() == 1, 10.0, message="PTT on at the returned rigctld")
        self.rig.release()
        wait_until(lambda: self.rigctld.ptt() == 0, 5.0, message="PTT off at the returned rigctld")
        self.assertEqual(self.rig.stop(), 0)
        self.assertEqual(self.rigctld.ptt(), 0)

    def test_a_rigctl_client_keys_the_chain_and_sets_the_radio(self):
        server = f"127.0.0.1:{free_port()}"
        self.rig.write_settings({"Rigctl-Server": server})
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        rigctl = ["rigctl", "-m", "2", "-r", server]
        # Everything but PTT reaches the radio: rigctld's own answer.
        subprocess.run(rigctl + ["F", "7074000"], check=True, timeout=30, capture_output=True)
        self.assertEqual(self.rigctld.ask("f"), "7074000")

        relays = (self.rig.port(2), self.rig.port(3))
        watcher = PttWatcher(self.rigctld.port)
        self.addCleanup(watcher.close)
        client = subprocess.Popen(rigctl, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        self.addCleanup(client.stdin.close)
        self.addCleanup(client.kill)
        keyed = time.monotonic_ns()
        client.stdin.write(b"T 1\n")
        client.stdin.flush()
        wait_until(lambda: watcher.first_on(keyed), 10.0, message="PTT on at rigctld")
        one, two = self.relay_moments(1, keyed)
        self.assertLess(one, two)
        self.assertLess(two, watcher.first_on(keyed), "the radio keyed before relay 2")
        wait_until(lambda: "keyed by rigctl client 127.0.0.1:" in self.rig.program_output(), 5.0,
                   message="the source named")

        # The client dies while keyed: its key goes, radio first.
        client.kill()
        killed = time.monotonic_ns()
        self.rig.wait_for_rts(relays[0], 0, timeout=5.0)
        one, two = self.relay_moments(0, killed)
        print(f"client killed -> release 2: {(two - killed) / 1e6:.1f} ms, -> release 1: {(one - killed) / 1e6:.1f} ms",
              file=sys.stderr)
        self.assertEqual([s for s, _, v in watcher.readings if v and s > two], [],
                         "PTT on at rigctld after relay 2 dropped")
        self.assertLess(two, one)
        self.assertEqual(self.rig.stop(), 0)
        self.assertEqual(self.rigctld.ptt(), 0)
        with open(os.path.join(self.rig.state_home, "zelvo-footswitch2", "time-on-air.csv"), encoding="utf-8") as f:
            self.assertRegex(f.read().splitlines()[-1], r",rigctl client 127\.0\.0\.1:\d+,release$")


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
