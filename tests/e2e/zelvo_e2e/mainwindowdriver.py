"""Driving the program's windows like a user does: xdotool clicks and keys
on the private X server of the test (tests/with-xserver.sh).

    from zelvo_e2e.mainwindowdriver import MainWindowDriver

    with FootswitchRig(program, modemlines) as rig:
        rig.start()
        rig.wait_until_open()
        ui = MainWindowDriver(rig)
        ui.choose_port("in", 3)            # ComboComIn: Com3
        about = ui.open_about()            # Help > About
        ui.key("Escape")                   # About closes on Esc
        ui.wait_until_gone(about)

Every step waits (with a deadline) for the window it needs: the menu or
list that a click or a key opens, the focus that keys go to.
"""

import subprocess

from .polling import wait_until

MAIN_TITLE = "Zelvo-Footswitch"
ABOUT_TITLE = "About Zelvo-FootSwitch2"

# The main window's client area as laid out in ui/mainwindow/zelvofootswitch2.ui:
# the rectangles of the two port lists. The menu bar sits above them; the
# window is the client area (133 pixels high) plus the menu bar.
CLIENT_HEIGHT = 133
# The Rx and Tx buttons (cmdRx, cmdTx; the markers Command1 and Command2
# take their places while shown and do nothing when clicked).
BUTTON_RECTS = {
    "rx": (136, 8, 33, 17),
    "tx": (136, 32, 33, 17),
}
# One row per output of the chain under the form, then the port state line
# (fixed in the program).
OUTPUT_ROW_HEIGHT = 18
STATE_LINE_HEIGHT = 30
COMBO_RECTS = {
    "in": (88, 72, 57, 21),   # ComboComIn
    "out": (88, 104, 57, 21),  # ComboComOut
}


def _xdotool(*arguments, check=True):
    result = subprocess.run(["xdotool", *[str(a) for a in arguments]], capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"xdotool {' '.join(map(str, arguments))} failed: {result.stderr.strip()}")
    return result.stdout


class MainWindowDriver:
    """Clicks and keys for one FootswitchRig's program.

    main_window(), about_window(), wait_until_gone(wid), active_window(),
    wait_until_active(wid), activate(wid), minimize(wid), geometry(wid), key(*keys),
    click(wid, x, y), click_button("rx"|"tx"), choose_port("in"|"out", n), open_menu(letter),
    choose_menu_item(menu_letter, item_letter), open_about().
    """

    def __init__(self, rig, timeout=10.0, outputs=1):
        self.rig = rig
        self.timeout = timeout
        self.outputs = outputs

    # -- windows -----------------------------------------------------------

    def main_window(self, timeout=None):
        """Waits for the visible main window and returns its id."""
        return wait_until(lambda: self.rig.windows("^" + MAIN_TITLE + "$"), timeout or self.timeout,
                          message="the main window")[0]

    def wait_for_window(self, title_regex, timeout=None):
        """Waits for a visible window of the program whose title matches."""
        return wait_until(lambda: self.rig.windows(title_regex), timeout or self.timeout,
                          message=f"a window titled {title_regex}")[0]

    def about_windows(self):
        return self.rig.windows("^" + ABOUT_TITLE + "$")

    def about_window(self, timeout=None):
        """Waits for the visible About window and returns its id."""
        return wait_until(self.about_windows, timeout or self.timeout, message="the About window")[0]

    def visible_windows(self):
        """Every visible window of the program, menus and lists included
        (those have an empty WM_NAME: no title pattern would match them)."""
        if not self.rig.running():
            return set()
        output = _xdotool("search", "--onlyvisible", "--pid", self.rig.pid, check=False)
        return {int(w) for w in output.split()}

    def wait_until_gone(self, window, timeout=None):
        wait_until(lambda: window not in self.visible_windows(), timeout or self.timeout,
                   message=f"window {window} to go")

    @staticmethod
    def active_window():
        text = _xdotool("getactivewindow", check=False).strip()
        return int(text) if text.isdigit() else None

    def wait_until_active(self, window, timeout=None):
        """Waits until the window manager has given `window` the focus."""
        wait_until(lambda: self.active_window() == window, timeout or self.timeout,
                   message=f"window {window} ({self.rig.window_title(window)!r}) to be active")

    def activate(self, window, timeout=None):
        """Asks the window manager to activate `window` and waits until it is."""
        _xdotool("windowactivate", window, check=False)
        self.wait_until_active(window, timeout)

    def minimize(self, window, timeout=None):
        """Iconifies `window` as its title bar button does, and waits until
        it is no longer shown."""
        _xdotool("windowminimize", window)
        self.wait_until_gone(window, timeout)

    @staticmethod
    def geometry(window):
        """(x, y, width, height) of a window, as xdotool reports it."""
        values = {}
        for line in _xdotool("getwindowgeometry", "--shell", window).splitlines():
            if "=" in line:
                name, value = line.split("=", 1)
                values[name] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    # -- input -------------------------------------------------------------

    @staticmethod
    def key(*keys):
        """Presses keys (xdotool names, e.g. "alt+h") on the focused window."""
        _xdotool("key", "--clearmodifiers", *keys)

    @staticmethod
    def type_text(text):
        """Types text into the focused field."""
        _xdotool("type", "--delay", "5", text)

    @staticmethod
    def click(window, x, y):
        """Left click at (x, y) relative to the window's top-left corner."""
        _xdotool("mousemove", "--window", window, x, y, "click", "1")

    def _wait_for_new_window(self, before, what, timeout=None):
        return wait_until(lambda: sorted(self.visible_windows() - before), timeout or self.timeout,
                          message=what)[0]

    # -- the main window's controls ----------------------------------------

    def menu_bar_height(self, window):
        return self.geometry(window)[3] - CLIENT_HEIGHT - self.outputs * OUTPUT_ROW_HEIGHT - STATE_LINE_HEIGHT

    def click_button(self, name):
        """Clicks the Rx or Tx button of the main window."""
        main = self.main_window()
        x, y, width, height = BUTTON_RECTS[name]
        self.click(main, x + width // 2, self.menu_bar_height(main) + y + height // 2)

    def choose_port(self, combo, number):
        """Chooses Com<number> from ComboComIn ("in") or ComboComOut ("out")
        as a user does: a click on the list's arrow, then the item by keys
        (Home, Down to it, Return). Returns when the list has closed."""
        main = self.main_window()
        x, y, width, height = COMBO_RECTS[combo]
        before = self.visible_windows()
        # The arrow button fills the right end of the box.
        self.click(main, x + width - 8, self.menu_bar_height(main) + y + height // 2)
        popup = self._wait_for_new_window(before, f"the list of Combo{combo}")
        self.key("Home", *(["Down"] * (number - 1)), "Return")
        self.wait_until_gone(popup)

    def open_menu(self, letter):
        """Opens a menu of the focused main window by its access key
        (alt+letter) and returns the menu's window id."""
        before = self.visible_windows()
        self.key(f"alt+{letter}")
        return self._wait_for_new_window(before, f"the menu of alt+{letter}")

    def choose_menu_item(self, menu_letter, item_letter):
        """Menu command by access keys, e.g. ("h", "a") for Help > About.
        The main window must have the focus."""
        menu = self.open_menu(menu_letter)
        self.key(item_letter)
        self.wait_until_gone(menu)

    def open_about(self):
        """Help > About from the keyboard; returns the About window once it is
        shown and has the focus."""
        self.choose_menu_item("h", "a")
        about = self.about_window()
        self.wait_until_active(about)
        return about
