"""End to end: ports that go away and come back, and a port mapped in the
settings window, through the real program.

Adapters are unplugged and plugged back in under a stable name (a link, as
under /dev/serial/by-id); a network device server is killed and started
again on the same port. Nothing but the program's own background retries
brings the ports back: no About round trip, no restart.

Run under a private X server:
    tests/with-xserver.sh /usr/bin/python3 tests/e2e/test_recovery.py \
        --program build/zelvo-footswitch2 \
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from zelvo_e2e import FootswitchRig, ProgramTestCase, run_tests, wait_until  # noqa: E402
from zelvo_e2e.mainwindowdriver import MainWindowDriver  # noqa: E402
from zelvo_e2e.networkpeer import NetworkRig  # noqa: E402
from zelvo_e2e.pseudoport import PseudoPort  # noqa: E402

OPTIONS = None

# A local device is tried again about every 2 s; allow a few rounds.
RECOVERY_DEADLINE = 10.0


class RecoveryTestCase(ProgramTestCase):
    rig_class = FootswitchRig
    rig_options = {}

    def setUp(self):
        self.rig = self.rig_class(OPTIONS.program, OPTIONS.modemlines, **self.rig_options)
        self.addCleanup(self.rig.close)
        self.rig.start()
        self.addCleanup(self._show_output_on_failure)

    def keyed_press(self):
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)

    def assert_one_message(self):
        wait_until(lambda: len(self.rig.message_boxes()) == 1, 5.0, message="one message box")


class InputAdapterUnplugged(RecoveryTestCase):
    rig_options = {"pluggable": {1}}

    def test_unplugged_while_held_releases_and_once_back_keys_at_the_next_press(self):
        self.rig.wait_until_open()
        self.keyed_press()

        self.rig.unplug(1)
        self.rig.wait_for_rts(self.rig.output, 0)
        self.assert_one_message()

        port = self.rig.plug_in(1)
        # Back with its supply raised, by the program alone.
        wait_until(lambda: self.rig.rts(port) == 1, RECOVERY_DEADLINE, message="the supply raised again")
        self.keyed_press()
        self.rig.release()
        self.rig.wait_for_rts(self.rig.output, 0)
        # The retries in between told nobody.
        self.assertEqual(len(self.rig.message_boxes()), 1)


class OutputAdapterUnplugged(RecoveryTestCase):
    rig_options = {"pluggable": {2}}

    def test_unplugged_while_keyed_is_reported_once_and_comes_back_released(self):
        self.rig.wait_until_open()
        self.keyed_press()

        self.rig.unplug(2)
        self.assert_one_message()
        # A new press while the adapter is away, held until it is back: it
        # must not key the relay that comes back.
        self.rig.release()
        self.rig.wait_ticks(2)
        self.rig.press()
        self.rig.wait_ticks(2)

        port = self.rig.plug_in(2)
        wait_until(lambda: self.rig.lines.writes(port.device, "RTS"), RECOVERY_DEADLINE,
                   message="the output opened again")
        # The footswitch is still held: the relay must not key by itself.
        self.rig.wait_ticks(3)
        self.assertEqual(self.rig.rts(port), 0)
        self.assertEqual([e.value("RTS") for e in self.rig.lines.writes(port.device, "RTS")], [0])

        self.rig.release()
        self.rig.wait_ticks(2)
        self.keyed_press()
        self.assertEqual(len(self.rig.message_boxes()), 1)


class NetworkOutputServerRestarted(RecoveryTestCase):
    rig_class = NetworkRig

    def test_a_server_killed_and_started_again_is_reconnected_and_keys(self):
        self.rig.wait_until_open()
        self.keyed_press()

        self.rig.stop_peer(2)
        wait_until(lambda: "Cause::OutputLost" in self.rig.program_output(), 15.0,
                   message="the program found the server gone")
        # A new press during the outage, held until the server is back.
        self.rig.release()
        time.sleep(0.2)
        self.rig.press()
        time.sleep(0.2)
        peer = self.rig.start_peer(2)
        # Found lost, then reached again by the back-off (1 s, 2 s, ...).
        peer.wait_for_client(1, timeout=15.0)
        wait_until(lambda: peer.state().get("baud") == "9600", 10.0, interval=0.05,
                   message="the new server set up")
        self.assertEqual(peer.rts, 0, "the output came back keyed")
        time.sleep(0.3)
        self.assertEqual(peer.rts, 0, "a press during the outage keyed the output that came back")

        self.rig.release()
        # Held released for longer than the debounce, or it is only a glitch.
        time.sleep(0.2)
        self.rig.press()
        peer.wait_for_rts(1, timeout=5.0)


class SettingsWindowMapsAPort(RecoveryTestCase):
    # The input's number leads nowhere at the start.
    rig_options = {"settings": {"ComPort": "3", "ComPort2": "2"}, "absent": {3}}

    def test_a_port_mapped_in_the_settings_window_is_used_when_it_closes(self):
        ui = MainWindowDriver(self.rig)
        self.assert_one_message()
        ui.key("Return")
        wait_until(lambda: not self.rig.message_boxes(), 5.0, message="the message box closed")
        adapter = PseudoPort()
        self.addCleanup(adapter.close_master)

        ui.wait_until_active(ui.main_window())
        ui.choose_menu_item("f", "s")
        settings = ui.wait_for_window("^Settings$")
        ui.wait_until_active(settings)
        # Com3's entry: the third row of the Ports page, after the page's tab.
        ui.key("alt+p", "Tab", "Tab", "Tab")
        ui.key("ctrl+a")
        ui.type_text(adapter.path)
        ui.key("Return")
        ui.wait_until_gone(settings)

        wait_until(lambda: self.rig.rts(adapter) == 1, 10.0, message="the mapped port opened as the input")
        self.assertEqual(self.rig.read_settings("Ports")["Com3"], adapter.path)
        self.rig.press(adapter)
        self.rig.wait_for_rts(self.rig.output, 1)


if __name__ == "__main__":
    run_tests(sys.modules[__name__])
