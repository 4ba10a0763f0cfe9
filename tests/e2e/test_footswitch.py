"""End to end: the footswitch on the input port keys the relay line of the
output port: CTS to RTS as the program comes, or any input line (inverted for
a normally-closed switch) to RTS or DTR as set; debounced, woken at once by a
port that reports its line changes, polled every 100 ms by one that cannot.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_footswitch.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ModemLines, ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.footswitchrig import LINE_WAITER_THREAD  # noqa: E402
from zelvo_e2e.mainwindowdriver import MainWindowDriver  # noqa: E402

OPTIONS = None


class FootswitchTestCase(ProgramTestCase):
    """The program on Com1 (footswitch) and Com2 (relay), started with
    `settings` and `env`; `before_start()` may set the far end's lines."""

    settings = {"ComPort": "1", "ComPort2": "2"}
    env = {}

    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines, settings=self.settings, env=self.env)
        self.addCleanup(self.rig.close)
        self.before_start()
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)
        self.rig.wait_until_open()
        self.supply_at_start = self.input_rts_writes()

    def before_start(self):
        pass

    def failure_report(self):
        log = self.rig.lines.log()[-80:]
        log = "\n".join(f"{(e.t - log[0].t) / 1e6:10.2f} ms {e.dev} {e.op} {','.join(e.lines) or '-'} "
                        + " ".join(f"{k}={v}" for k, v in e.values.items()) for e in log)
        return [("the last modem-line requests", log)]

    # -- helpers -----------------------------------------------------------

    def input_rts_writes(self):
        return [e.value("RTS") for e in self.rig.lines.writes(self.rig.input.device, "RTS")]

    def output_writes(self, line="RTS"):
        return [e.value(line) for e in self.rig.lines.writes(self.rig.output.device, line)]

    def output_rts_writes(self):
        return self.output_writes("RTS")

    def wait_for_tick_end(self):
        """Returns right after a poll tick (each reads the footswitch, then
        looks at the output), with the length of the log by then."""
        out = self.rig.output.device
        count = len(self.rig.lines.reads(out))
        wait_until(lambda: len(self.rig.lines.reads(out)) > count, 5.0, message="a poll tick")
        return len(self.rig.lines.log())

    def entries_until_write(self, since, line="RTS"):
        """The log entries from index `since` up to the program's next write
        of `line` on the output, and that write. (A test's change may be
        logged after the program's first answer to it: the library writes
        the state file first.)"""
        log = self.rig.lines.log()
        out = self.rig.output.device
        write = next(i for i in range(since, len(log))
                     if log[i].dev == out and log[i].op != "drive" and log[i].writes(line))
        return log[since:write], log[write]


class FootswitchKeysTheTransmitter(FootswitchTestCase):

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

    # -- tests -------------------------------------------------------------

    def test_input_rts_and_dtr_are_raised_as_supply_and_output_starts_released(self):
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "RTS"), 1)
        # Opened with RTS raised as the supply at once.
        self.assertEqual(self.supply_at_start, [1])
        # DTR as well, for a switch wired from DTR.
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "DTR"), 1)
        self.assertEqual([e.value("DTR") for e in self.rig.lines.writes(self.rig.input.device, "DTR")][-1:], [1])
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


class NormallyClosedSwitchOnDsr(FootswitchTestCase):
    """A normally-closed switch from DTR to DSR: DSR is high at rest and
    falls while the switch is pressed."""

    settings = {"ComPort": "1", "ComPort2": "2", "Footswitch-Line": "DSR", "Footswitch-Inverted": "1"}

    def before_start(self):
        self.rig.lines.drive(self.rig.input.device, DSR=1)

    def test_a_falling_dsr_keys_and_a_rising_dsr_releases(self):
        self.rig.wait_ticks(2)
        self.assertEqual(self.output_rts_writes(), [0], "keyed by a switch at rest")

        self.rig.lines.drive(self.rig.input.device, DSR=0)
        self.rig.wait_for_rts(self.rig.output, 1)
        self.rig.lines.drive(self.rig.input.device, DSR=1)
        self.rig.wait_for_rts(self.rig.output, 0)
        self.rig.wait_ticks(3)
        self.assertEqual(self.output_rts_writes(), [0, 1, 0])

    def test_cts_is_not_the_footswitch_then(self):
        self.rig.press()
        self.rig.wait_ticks(3)
        self.rig.release()
        self.rig.wait_ticks(3)
        self.assertEqual(self.output_rts_writes(), [0])


class RelayOnDtr(FootswitchTestCase):
    settings = {"ComPort": "1", "ComPort2": "2", "Relay-Line": "DTR"}

    def test_the_footswitch_keys_the_outputs_dtr_and_its_rts_stays_low(self):
        out = self.rig.output.device
        # Linux raises DTR as it opens a port: the program lowers it at once.
        wait_until(lambda: self.output_writes("DTR"), 5.0, message="DTR written at the open")
        self.assertEqual(set(self.output_writes("DTR")), {0}, "the relay came up keyed")
        dtr_at_start = len(self.output_writes("DTR"))

        for _ in range(2):
            self.rig.press()
            self.rig.wait_for_line(self.rig.output, "DTR", 1)
            self.assertEqual(self.rig.lines.line(out, "RTS"), 0)
            self.rig.release()
            self.rig.wait_for_line(self.rig.output, "DTR", 0)
        self.rig.wait_ticks(3)

        self.assertEqual(self.output_writes("DTR")[dtr_at_start:], [1, 0, 1, 0])
        self.assertEqual(set(self.output_rts_writes()), {0}, "RTS was raised on a relay that hangs on DTR")
        # The input's supply is both lines, whatever the output drives.
        self.assertEqual((self.rig.lines.line(self.rig.input.device, "RTS"),
                          self.rig.lines.line(self.rig.input.device, "DTR")), (1, 1))

    def test_the_about_window_and_the_end_drop_dtr_and_the_return_opens_it_low(self):
        ui = MainWindowDriver(self.rig)
        ui.wait_until_active(ui.main_window())
        self.rig.press()
        self.rig.wait_for_line(self.rig.output, "DTR", 1)
        about = ui.open_about()
        self.rig.wait_for_line(self.rig.output, "DTR", 0)
        self.rig.release()
        dtr_before_return = len(self.output_writes("DTR"))
        ui.key("Escape")
        ui.wait_until_gone(about)
        wait_until(lambda: len(self.output_writes("DTR")) > dtr_before_return, 5.0, message="the reopen")
        self.assertEqual(set(self.output_writes("DTR")[dtr_before_return:]), {0}, "the reopen keyed the relay")
        self.rig.press()
        self.rig.wait_for_line(self.rig.output, "DTR", 1)
        self.assertEqual(self.rig.stop(), 0)  # SIGTERM
        self.assertEqual(self.output_writes("DTR")[-1:], [0], "DTR left high at the end")


class DebouncedFootswitch(FootswitchTestCase):
    """Glitches and bounce, made by the test with changes a few milliseconds
    apart. Should the test itself be kept off the processor long enough for a
    level to hold for the debounce time, that try proves nothing and is made
    again (each drive's rename is timed from both sides)."""

    DEBOUNCE_MS = 10
    settings = {"ComPort": "1", "ComPort2": "2", "Footswitch-Debounce": str(DEBOUNCE_MS)}
    TRIES = 10

    def short_enough(self, pulses):
        # The program's clock counts whole milliseconds: keep clear of the edge.
        return pulses.longest_ns < (self.DEBOUNCE_MS - 2) * 1_000_000

    def spikes_until_one_is_read(self, value):
        """2 ms spikes of CTS to `value` until the program has read one;
        fails on one that makes it write the output."""
        inp = self.rig.input.device
        held = []
        for _ in range(self.TRIES):
            since = len(self.rig.lines.log())
            pulses = self.rig.glitch(value)
            # Past the debounce time, and a tick more.
            self.rig.wait_ticks(2)
            later = self.rig.lines.log()[since:]
            if not self.short_enough(pulses):
                # Long enough to count: the transmitter follows it, and is
                # back where it was once it is over.
                held.append(pulses.longest_ns / 1e6)
                self.rig.wait_for_rts(self.rig.output, 1 - value)
                self.rig.wait_ticks(2)
                continue
            writes = [e for e in later if e.dev == self.rig.output.device and e.writes("RTS")]
            self.assertEqual(writes, [], f"a spike of at most {pulses.longest_ns / 1e6:.1f} ms wrote RTS")
            if any(e.dev == inp and e.op == "get" and e.value("CTS") == value for e in later):
                return
        # Neither is the program's fault: a spike shorter than the waiter's
        # way back into its wait goes unseen, as it does with a real driver.
        self.skipTest(f"of {self.TRIES} spikes, {len(held)} held for the debounce time "
                      f"(up to {max(held, default=0):.1f} ms) and the program read none of the others")

    def test_a_glitch_shorter_than_the_debounce_keys_nothing(self):
        self.spikes_until_one_is_read(1)
        self.assertEqual(self.rig.rts(self.rig.output), 0)

        # The same while pressed: a 2 ms dropout does not release.
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.rig.wait_ticks(1)
        self.spikes_until_one_is_read(0)
        self.assertEqual(self.rig.rts(self.rig.output), 1)

    def test_a_bouncing_contact_writes_once_per_edge(self):
        clean, held = 0, []
        for _ in range(self.TRIES):
            since = len(self.rig.lines.log())
            press = self.rig.bounce(1, bounces=3)
            self.rig.wait_for_rts(self.rig.output, 1)
            self.rig.wait_ticks(3)
            release = self.rig.bounce(0, bounces=3)
            self.rig.wait_for_rts(self.rig.output, 0)
            self.rig.wait_ticks(3)
            if not (self.short_enough(press) and self.short_enough(release)):
                held.append(max(press.longest_ns, release.longest_ns) / 1e6)
                continue
            later = self.rig.lines.log()[since:]
            self.assertEqual(len([e for e in later if e.op == "drive"]), 2 * 7, "each edge is seven changes")
            writes = [e.value("RTS") for e in later if e.dev == self.rig.output.device and e.writes("RTS")]
            self.assertEqual(writes, [1, 0])
            clean += 1
            if clean == 2:
                return
        if clean == 0:
            # Not the program's fault: this machine is too busy to bounce a
            # contact in milliseconds from Python.
            self.skipTest(f"no press bounced within the debounce time; levels held up to {max(held):.1f} ms")


class WokenByTheLineChange(FootswitchTestCase):
    """The input port reports its line changes (the library emulates the
    driver's wait): a change runs the tick at once, and only the debounce
    stands between the edge and the write."""

    def test_a_press_and_a_release_are_acted_on_without_waiting_for_a_tick(self):
        inp = self.rig.input.device
        self.assertTrue(self.rig.lines.waits(inp), "the program does not wait for line changes")
        for value in (1, 0):
            # Right after a tick: the next one is 100 ms away.
            since = self.wait_for_tick_end()
            self.rig.lines.drive(inp, CTS=value)
            self.rig.wait_for_rts(self.rig.output, value)

            entries, write = self.entries_until_write(since)
            self.assertEqual(write.value("RTS"), value)
            woke = next((i for i, e in enumerate(entries) if e.dev == inp and e.op == "woke"), None)
            self.assertIsNotNone(woke, "the waiter did not wake on the change")
            self.assertEqual(entries[woke].value("CTS"), value)
            reads = [i for i, e in enumerate(entries) if e.dev == inp and e.op == "get"]
            # The tick the wake ran, and the read that confirms the level once
            # it has held for the debounce time: no periodic tick was needed.
            self.assertEqual(len(reads), 2, "a periodic tick ran between the change and the write")
            self.assertGreater(reads[0], woke, "the change was read by a periodic tick, not on the wake")
            self.assertEqual([entries[i].value("CTS") for i in reads], [value, value])

    def test_the_output_port_has_no_waiter(self):
        self.rig.wait_ticks(2)
        self.assertEqual(self.rig.lines.waits(self.rig.output.device), [])
        self.assertEqual(self.rig.thread_names().count(LINE_WAITER_THREAD), 1)


class PollingFallback(FootswitchTestCase):
    """An input whose driver cannot wait for line changes (cp210x, a bare
    pseudo-terminal): the 100 ms tick alone finds the edge."""

    env = {ModemLines.NO_WAIT_VARIABLE: "1"}

    def test_a_press_keys_at_the_next_tick(self):
        inp = self.rig.input.device
        for value in (1, 0):
            since = self.wait_for_tick_end()
            self.rig.lines.drive(inp, CTS=value)
            self.rig.wait_for_rts(self.rig.output, value)
            entries, write = self.entries_until_write(since)
            self.assertEqual(write.value("RTS"), value)
            # The next tick's read saw the new level, and only the read that
            # confirms it after the debounce time came after it.
            reads = [e.value("CTS") for e in entries if e.dev == inp and e.op == "get"]
            self.assertEqual(reads, [value, value], "not keyed at the next tick")
        self.assertEqual(self.output_rts_writes(), [0, 1, 0])
        self.assertEqual(self.rig.lines.waits(self.rig.input.device), [])
        self.assertNotIn(LINE_WAITER_THREAD, self.rig.thread_names())


class AboutWindowClosesThePorts(FootswitchTestCase):
    def test_a_press_in_the_about_window_does_nothing_and_no_waiter_is_left(self):
        ui = MainWindowDriver(self.rig)
        inp = self.rig.input.device
        ui.wait_until_active(ui.main_window())
        wait_until(lambda: self.rig.lines.wait_pending(inp), 5.0, message="a wait for a line change")
        threads_before = self.rig.thread_names()
        self.assertEqual(threads_before.count(LINE_WAITER_THREAD), 1)

        input_rts = len(self.input_rts_writes())
        about = ui.open_about()
        # Both ports closed: the input's supply dropped, and the waiter with it.
        wait_until(lambda: len(self.input_rts_writes()) > input_rts, 5.0, message="the input port closed")
        wait_until(lambda: LINE_WAITER_THREAD not in self.rig.thread_names(), 5.0,
                   message="the waiting thread to end")
        threads_in_about = self.rig.thread_names()
        self.assertLess(len(threads_in_about), len(threads_before),
                        f"threads before {threads_before}, with the About window open {threads_in_about}")
        self.assertFalse(self.rig.lines.wait_pending(inp), "a wait on the closed port is still pending")
        self.assertEqual(self.rig.lines.log(inp)[-1].op, "ended")

        log_size = len(self.rig.lines.log())
        output_writes = self.output_rts_writes()
        self.rig.press()
        # Nothing to wait for: the program must do nothing. A few ticks' time.
        time.sleep(0.4)
        self.rig.release()
        time.sleep(0.1)
        later = self.rig.lines.log()[log_size:]
        self.assertEqual([(e.dev, e.op) for e in later if e.op != "drive"], [],
                         "the closed ports were touched while the About window was open")
        self.assertEqual(self.output_rts_writes(), output_writes)
        self.assertEqual(self.rig.thread_names().count(LINE_WAITER_THREAD), 0)

        # Back: the input opens again, and so does its waiter.
        ui.key("Escape")
        ui.wait_until_gone(about)
        wait_until(lambda: self.rig.lines.wait_pending(inp), 5.0, message="the wait after the return")
        self.assertEqual(self.rig.thread_names().count(LINE_WAITER_THREAD), 1)
        self.rig.wait_ticks(2)
        self.assertNotIn(1, self.output_rts_writes()[len(output_writes):])


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
