"""End to end: the main window's ways out, its port choices, the About
window's round trip and one running program per user, driven with xdotool
like a user.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_mainwindow.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.mainwindowdriver import MainWindowDriver  # noqa: E402

OPTIONS = None

# How long the program may take to end after a request to (it saves five
# keys and closes two ports).
EXIT_DEADLINE = 5.0


class MainWindowTestCase(ProgramTestCase):
    settings = {"ComPort": "1", "ComPort2": "2"}

    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines, settings=self.settings)
        self.addCleanup(self.rig.close)
        self.ui = MainWindowDriver(self.rig)

    def start(self, wait_until_open=True):
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)
        if wait_until_open:
            self.rig.wait_until_open()

    def failure_report(self):
        log = "\n".join(repr(e) for e in self.rig.lines.log() if e.op != "get")
        return [("settings file", self._settings_text()), ("modem-line writes and drives", log)]

    def _settings_text(self):
        try:
            with open(self.rig.settings_path, encoding="utf-8") as f:
                return f.read()
        except OSError as error:
            return str(error)

    # -- helpers -----------------------------------------------------------

    def wait_for_exit(self, timeout=EXIT_DEADLINE):
        """Waits for the program to end on its own; returns its exit status."""
        try:
            self.rig.wait(timeout)
        except subprocess.TimeoutExpired:
            self.fail(f"the program did not end within {timeout} s")
        return self.rig.stop()  # ended already: only closes the output file

    def terminate_and_wait(self, sig=signal.SIGTERM):
        self.rig.send_signal(sig)
        return self.wait_for_exit()

    def rts_writes(self, number):
        return [e.value("RTS") for e in self.rig.lines.writes(self.rig.port(number).device, "RTS")]

    def wait_for_new_rts_write(self, number, value, after):
        """Waits for a write of RTS=value on Com<number> beyond the first
        `after` writes."""
        wait_until(lambda: value in self.rts_writes(number)[after:], 5.0,
                   message=f"a new write of RTS={value} on Com{number}")

    def assert_released_at_end(self, *numbers):
        for number in numbers:
            self.assertEqual(self.rig.rts(self.rig.port(number)), 0, f"RTS of Com{number} left high")
            self.assertEqual(self.rts_writes(number)[-1:], [0], f"last RTS write on Com{number} not low")


class TerminationSignalUnloads(MainWindowTestCase):
    # A stored position and a checked always-on-top box that the unload
    # must write back as they are.
    settings = {"Position-Left": "3000", "Position-Top": "2250", "OnTop": "1", "ComPort": "1", "ComPort2": "2"}

    def test_sigterm_saves_the_five_settings_releases_both_ports_and_exits_with_status_0(self):
        self.start()
        self.ui.main_window()
        # The file as the start-up left it, without the keys being rewritten.
        self.rig.write_settings({"Position-Left": "1", "Position-Top": "1", "OnTop": "0",
                                 "ComPort": "8", "ComPort2": "9"})
        began = time.monotonic()
        status = self.terminate_and_wait()
        took = time.monotonic() - began

        self.assertEqual(status, 0)
        self.assertLess(took, EXIT_DEADLINE)
        stored = self.rig.read_settings()
        # The window stands where the stored position put it (200, 150 pixels
        # for its frame, 15 twips a pixel); the box is still checked; the
        # ports are those of the run, not those written into the file since.
        self.assertEqual({key: stored.get(key) for key in self.settings}, self.settings)
        self.assertEqual(set(stored), set(self.settings), "unexpected keys in the group Settings")
        self.assert_released_at_end(1, 2)

    def test_sigint_and_sighup_end_the_program_as_sigterm_does(self):
        for sig in (signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines,
                                    settings={"ComPort": "5", "ComPort2": "6"})
                try:
                    rig.start()
                    rig.wait_until_open()
                    MainWindowDriver(rig).main_window()
                    rig.send_signal(sig)
                    rig.wait(EXIT_DEADLINE)
                    self.assertEqual(rig.stop(), 0)
                    stored = rig.read_settings()
                    self.assertEqual((stored.get("ComPort"), stored.get("ComPort2")), ("5", "6"))
                    self.assertTrue(all(k in stored for k in ("Position-Left", "Position-Top", "OnTop")),
                                    stored)
                    self.assertEqual(rig.rts(rig.port(5)), 0)
                    self.assertEqual(rig.rts(rig.port(6)), 0)
                except BaseException:
                    sys.stderr.write(f"--- program output ({sig.name}) ---\n{rig.program_output()}\n")
                    raise
                finally:
                    rig.close()


class UnloadAtStartUp(MainWindowTestCase):
    settings = {"ComPort": "3", "ComPort2": "4"}

    def test_sigterm_during_start_up_keeps_the_stored_port_numbers(self):
        self.start(wait_until_open=False)
        # The first sign of life is the start-up activation opening the input
        # port, before the window is even mapped: ask the program to end then.
        wait_until(lambda: self.rts_writes(3), 10.0, message="the first write on Com3")
        status = self.terminate_and_wait()
        self.assertEqual(status, 0)
        stored = self.rig.read_settings()
        self.assertEqual(stored.get("ComPort"), "3")
        self.assertEqual(stored.get("ComPort2"), "4")
        for key in ("Position-Left", "Position-Top", "OnTop"):
            self.assertIn(key, stored)
        self.assertEqual(self.rig.rts(self.rig.port(3)), 0, "the input's supply left raised")
        self.assertEqual(self.rig.rts(self.rig.port(4)), 0)


class UnloadWithMessageOpen(MainWindowTestCase):
    # Com2 has no device: the start-up activation opens Com1 and then says
    # that the output port is not available.
    settings = {"ComPort": "1", "ComPort2": "2"}

    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines, settings=self.settings, absent={2})
        self.addCleanup(self.rig.close)
        self.ui = MainWindowDriver(self.rig)

    def test_sigterm_while_a_message_box_is_open_saves_the_settings_and_exits_with_status_0(self):
        self.start(wait_until_open=False)
        wait_until(self.rig.message_boxes, 10.0, message="the message that Com2 is not available")
        self.rig.write_settings({"ComPort": "8", "ComPort2": "9"})
        status = self.terminate_and_wait()
        self.assertEqual(status, 0)
        stored = self.rig.read_settings()
        self.assertEqual((stored.get("ComPort"), stored.get("ComPort2")), ("1", "2"))
        for key in ("Position-Left", "Position-Top", "OnTop"):
            self.assertIn(key, stored)
        self.assertEqual(self.rig.rts(self.rig.port(1)), 0, "the input's supply left raised")


class UnloadWithFileDialogOpen(MainWindowTestCase):
    def test_sigterm_while_a_file_dialog_of_the_settings_window_is_open_exits_with_status_0(self):
        self.start()
        self.ui.wait_until_active(self.ui.main_window())
        self.ui.choose_menu_item("f", "s")
        self.ui.wait_until_active(self.ui.wait_for_window("^Settings$"))
        # The TLS page, its first file's field, the Browse button beside it.
        self.ui.key("alt+t", "alt+c", "Tab", "space")
        self.ui.wait_until_active(self.ui.wait_for_window("^CA certificates$"))
        self.assertEqual(self.terminate_and_wait(), 0)
        self.assert_released_at_end(1, 2)


class UnloadWhileKeyed(MainWindowTestCase):
    def test_sigterm_while_the_footswitch_keys_the_transmitter_releases_the_output(self):
        self.start()
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        status = self.terminate_and_wait()
        self.assertEqual(status, 0)
        # The footswitch is still held: only the unload can have released it.
        self.assertEqual(self.rig.lines.line(self.rig.input.device, "CTS"), 1)
        self.assert_released_at_end(1, 2)
        self.assertEqual(self.rts_writes(2), [0, 1, 0])


class WiringAssistant(MainWindowTestCase):
    def key_and_wait_for_the_ports(self, *keys):
        """Keys after which the ports open again; returns when the output is ready."""
        def ready():
            return self.rig.program_output().count("Cause::OutputReady")
        before = ready()
        self.ui.key(*keys)
        wait_until(lambda: ready() > before, 10.0, message="the ports opened again")

    def test_detect_finds_a_normally_closed_switch_on_dsr_keys_nothing_and_ok_saves_it(self):
        self.start()
        device = self.rig.input.device
        self.rig.lines.drive(device, DSR=1)  # closed at rest
        self.ui.wait_until_active(self.ui.main_window())
        self.ui.choose_menu_item("f", "s")
        window = self.ui.wait_for_window("^Settings$")
        self.ui.wait_until_active(window)
        self.key_and_wait_for_the_ports("alt+k")  # the Keying page opens them for wiring
        self.ui.key("alt+e")
        wait_until(lambda: "detect: listening" in self.rig.program_output(), 5.0, message="Detect listening")
        self.assertEqual([self.rig.lines.line(device, name) for name in ("RTS", "DTR")], [1, 1])
        for _ in range(3):
            for level in (0, 1):
                self.rig.bounce(level, line="DSR")
                time.sleep(0.2)  # held: a press and a release, not a bounce
        wait_until(lambda: "detect: DSR goes low when pressed: a normally closed switch on DSR."
                   in self.rig.program_output(), 10.0, message="what Detect found")
        self.assertNotIn(1, self.rts_writes(2), "the footswitch keyed the relay while wiring")
        self.key_and_wait_for_the_ports("Return")  # OK, and opened for keying as the window goes
        self.ui.wait_until_gone(window)
        settings = self.rig.read_settings()
        self.assertEqual((settings["Footswitch-Line"], settings["Footswitch-Inverted"]), ("DSR", "1"))
        # Keying as saved: the switch opening keys the transmitter.
        self.rig.lines.drive(device, DSR=0)
        self.rig.wait_for_rts(self.rig.output, 1)


class PortChoiceAndAbout(MainWindowTestCase):
    settings = {"ComPort": "1", "ComPort2": "2"}

    def setUp(self):
        super().setUp()
        self.start()
        self.main = self.ui.main_window()
        self.ui.wait_until_active(self.main)

    def test_a_chosen_input_port_is_stored_at_once_and_opened_after_the_about_window(self):
        self.ui.choose_port("in", 3)
        wait_until(lambda: self.rig.read_settings().get("ComPort") == "3", 5.0,
                   message="ComPort=3 stored")
        self.assertEqual(self.rig.read_settings().get("ComPort2"), "2")

        # The open ports are untouched: Com1 keeps its supply and is still
        # the footswitch, Com3 has not been opened.
        self.assertEqual(self.rig.rts(self.rig.port(1)), 1)
        self.assertEqual(self.rts_writes(3), [])
        self.rig.wait_ticks(2, port=self.rig.port(1))
        self.rig.press(self.rig.port(1))
        self.rig.wait_for_rts(self.rig.port(2), 1)
        self.rig.release(self.rig.port(1))
        self.rig.wait_for_rts(self.rig.port(2), 0)
        self.assertEqual(self.rig.lines.reads(self.rig.port(3).device), [])

        # The About window closes both ports: the input's supply is written
        # low; the output was low already.
        in_writes = len(self.rts_writes(1))
        about = self.ui.open_about()
        self.wait_for_new_rts_write(1, 0, in_writes)
        self.assertEqual(self.rig.rts(self.rig.port(1)), 0)
        self.assertEqual(self.rig.rts(self.rig.port(2)), 0)
        self.assertEqual(self.rts_writes(3), [], "the new port opened before the return")

        # Back in the main window: the activation opens Com3 with its supply
        # raised, and opens the output again.
        out_writes = len(self.rts_writes(2))
        self.ui.key("Escape")
        self.ui.wait_until_gone(about)
        self.ui.wait_until_active(self.main)
        self.rig.wait_for_rts(self.rig.port(3), 1)
        self.wait_for_new_rts_write(2, 0, out_writes)
        self.assertEqual(self.ui.about_windows(), [])

        # Com3 is the footswitch now; Com1 stays closed and released.
        self.rig.wait_ticks(1, port=self.rig.port(3))
        reads_of_com1 = len(self.rig.lines.reads(self.rig.port(1).device))
        self.rig.press(self.rig.port(3))
        self.rig.wait_for_rts(self.rig.port(2), 1)
        self.rig.release(self.rig.port(3))
        self.rig.wait_for_rts(self.rig.port(2), 0)
        self.rig.wait_ticks(2, port=self.rig.port(3))
        self.assertEqual(len(self.rig.lines.reads(self.rig.port(1).device)), reads_of_com1,
                         "the old input port is still read")
        self.assertEqual(self.rig.rts(self.rig.port(1)), 0)

        status = self.terminate_and_wait()
        self.assertEqual(status, 0)
        stored = self.rig.read_settings()
        self.assertEqual((stored.get("ComPort"), stored.get("ComPort2")), ("3", "2"))
        self.assert_released_at_end(3, 2)

    def test_exit_from_the_file_menu_while_the_about_window_is_open_ends_the_program(self):
        about = self.ui.open_about()
        in_writes = len(self.rts_writes(1))
        # Back to the main window with the About window still open: that is
        # a return too, and the ports open again.
        self.ui.activate(self.main)
        self.wait_for_new_rts_write(1, 1, in_writes)
        self.assertIn(about, self.ui.about_windows())

        self.ui.open_menu("f")
        self.ui.key("e")  # &Exit
        status = self.wait_for_exit()
        self.assertEqual(status, 0)
        stored = self.rig.read_settings()
        self.assertEqual((stored.get("ComPort"), stored.get("ComPort2")), ("1", "2"))
        for key in ("Position-Left", "Position-Top", "OnTop"):
            self.assertIn(key, stored)
        self.assert_released_at_end(1, 2)


class WithoutXServer(MainWindowTestCase):
    """Qt tries the platforms of a list in turn: with no X server reachable
    the program runs on the next one (offscreen here, Wayland on a desktop)
    instead of failing, and its X11-only calls stand aside."""

    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines, settings=self.settings,
                                 env={"DISPLAY": "", "QT_QPA_PLATFORM": "xcb;offscreen"})
        self.addCleanup(self.rig.close)

    def test_the_program_runs_on_the_next_platform_and_ends_with_status_0(self):
        self.start()
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)
        self.assertEqual(self.terminate_and_wait(), 0)
        self.assert_released_at_end(1, 2)


class OneProgramPerUser(MainWindowTestCase):
    """A second start on the same settings file hands over to the running
    program instead of opening the ports a second time."""

    def setUp(self):
        super().setUp()
        self.start()
        self.main = self.ui.main_window()
        self.ui.wait_until_active(self.main)

    def run_second(self):
        """Starts another copy; returns its exit status, pid and output."""
        second = self.rig.start_another()
        try:
            output, _ = second.communicate(timeout=EXIT_DEADLINE)
        except subprocess.TimeoutExpired:
            second.kill()
            output, _ = second.communicate()
            self.fail(f"the second start did not end within {EXIT_DEADLINE} s:\n"
                      f"{output.decode('utf-8', 'replace')}")
        return second.returncode, second.pid, output.decode("utf-8", "replace")

    def requests_of(self, pid):
        return [e for e in self.rig.lines.log() if e.pid == pid]

    def test_a_second_start_touches_no_port_or_setting_and_exits_with_status_0(self):
        # A value any run of the program rewrites, in a layout that QSettings
        # would not keep: a program that got as far as its settings shows.
        self.rig.write_settings({"OnTop": "5"})
        before = self.rig.settings_bytes()

        status, pid, output = self.run_second()

        self.assertEqual(status, 0, output)
        self.assertEqual(self.requests_of(pid), [], "the second start made modem-line requests")
        self.assertEqual(self.rig.settings_bytes(), before)
        self.assertTrue(self.rig.running())
        self.assertIn(self.main, self.rig.windows())
        # The first still relays the footswitch.
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)

    def test_a_second_start_brings_the_minimised_window_back_to_the_front(self):
        self.ui.minimize(self.main)

        status, pid, output = self.run_second()

        self.assertEqual(status, 0, output)
        self.assertEqual(self.requests_of(pid), [])
        wait_until(lambda: self.main in self.rig.windows(), 5.0, message="the main window shown again")
        self.ui.wait_until_active(self.main)

    def test_a_lock_left_by_a_killed_program_does_not_keep_the_next_start_from_running(self):
        self.rig.kill()
        self.assertTrue(os.path.exists(self.rig.lock_path), "no lock left to test with")

        self.rig.start()
        # The new run opens both ports itself (the killed one left the input's
        # RTS raised, so its state alone proves nothing).
        for port in (self.rig.input, self.rig.output):
            wait_until(lambda: [e for e in self.rig.lines.writes(port.device) if e.pid == self.rig.pid], 10.0,
                       message=f"the new run opening {port.path}")
        main = self.ui.main_window()
        self.ui.wait_until_active(main)
        self.rig.wait_ticks(1)

        # It has taken over the killed run's place: a further start hands over.
        status, pid, output = self.run_second()
        self.assertEqual(status, 0, output)
        self.assertEqual(self.requests_of(pid), [])
        self.assertTrue(self.rig.running())


class FirstStart(MainWindowTestCase):
    """No settings file: the station page maps the footswitch and the relay
    as typed, its wiring assistant tests the relay, and OK opens the
    station ready to key, having opened nothing else on the way."""

    def setUp(self):
        self.rig = FootswitchRig(OPTIONS.program, OPTIONS.modemlines, settings_file=False)
        self.addCleanup(self.rig.close)
        self.ui = MainWindowDriver(self.rig)

    def test_two_devices_typed_on_the_first_page_and_ok_key_the_relay(self):
        footswitch, relay = self.rig.port(1), self.rig.port(2)
        self.start(wait_until_open=False)
        window = self.ui.wait_for_window("^Settings$")
        self.ui.wait_until_active(window)
        self.ui.key("alt+f")
        self.ui.type_text(footswitch.path)
        self.ui.key("alt+r")
        self.ui.type_text(relay.path)
        # Once both rest, the assistant opens them: the footswitch's supply.
        self.rig.wait_for_line(footswitch, "DTR", 1, timeout=10.0)
        # Test relay is enabled once the relay's port is ready too.
        self.rig.wait_until_ready()
        self.ui.key("alt+y")  # Test relay, and yes to its question
        question = self.ui.wait_for_window("^Zelvo-FootSwitch2$")
        self.ui.wait_until_active(question)
        self.ui.key("alt+y")
        self.rig.wait_for_rts(relay, 1)
        self.rig.wait_for_rts(relay, 0)
        self.ui.wait_until_active(window)
        self.ui.key("Return")  # OK, the window's default button
        self.ui.wait_until_gone(window)
        self.rig.wait_for_rts(footswitch, 1)
        self.rig.wait_until_ready()
        self.rig.wait_ticks(1, port=footswitch)

        self.rig.press(footswitch)
        self.rig.wait_for_rts(relay, 1)
        self.rig.release(footswitch)
        self.rig.wait_for_rts(relay, 0)
        self.assertEqual((self.rig.read_settings().get("ComPort"), self.rig.read_settings().get("ComPort2")),
                         ("1", "2"))
        ports = self.rig.read_settings("Ports")
        self.assertEqual((ports.get("Com1"), ports.get("Com2")), (footswitch.path, relay.path))
        # Only the two devices typed: never the machine's own serial ports.
        opened = self.rig.lines.opens()
        serial = {path for path in opened if path.startswith(("/dev/tty", "/dev/pts/", "/dev/serial"))}
        self.assertEqual(serial, {footswitch.path, relay.path}, opened)
        self.assertEqual(self.terminate_and_wait(), 0)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
