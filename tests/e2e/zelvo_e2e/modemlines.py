"""The test's side of the modem-line library (tests/modemlines/modemlines.c)."""

import fcntl
import os
import time

from .logentry import LogEntry

LINES = ("RTS", "DTR", "CTS", "DSR", "DCD", "RI")


class ModemLines:
    """State and log files of the modem-line library in one folder.

    The program (with the library preloaded and ZELVO_MODEMLINES_DIR set to
    this folder) drives RTS and DTR; a test drives CTS, DSR, DCD and RI as the
    far end of the cable would. Devices are named "pts-N" for /dev/pts/N.

    The library also lets the program wait for an input-line change
    (TIOCMIWAIT), logging op=wait as a wait begins, op=woke as it returns on
    a change and op=ended as it fails (a signal stopped it, the device went);
    with NO_WAIT_VARIABLE set to "1" in the program's environment it refuses
    that wait, as a USB adapter without the driver support does, and the
    program can only poll.
    """

    LOG_NAME = "modemlines.log"
    NO_WAIT_VARIABLE = "ZELVO_MODEMLINES_NO_WAIT"

    def __init__(self, directory):
        self.directory = directory

    def _path(self, device, suffix):
        return os.path.join(self.directory, device + suffix)

    def state(self, device):
        """{"RTS": 0|1, "DTR": ..., "CTS": ..., ...} of a device (0 when never written)."""
        try:
            with open(self._path(device, ".lines"), encoding="ascii") as f:
                text = f.read()
        except FileNotFoundError:
            text = ""
        fields = dict(part.split("=", 1) for part in text.split() if "=" in part)
        return {name: 1 if fields.get(name) == "1" else 0 for name in LINES}

    def line(self, device, name):
        return self.state(device)[name]

    def drive(self, device, **lines):
        """Sets input lines, e.g. drive("pts-3", CTS=1), under the library's lock.

        The change becomes visible to the program in one atomic rename, and an
        op=drive entry is appended to the log right after it. Returns the
        CLOCK_MONOTONIC time (ns) of the change, taken right after the rename.
        """
        return self.drive_between(device, **lines)[1]

    def drive_between(self, device, **lines):
        """drive(), returning the CLOCK_MONOTONIC times (ns) taken right
        before and right after the rename: the change happened in between,
        however long the test was kept off the processor meanwhile."""
        for name in lines:
            if name not in LINES:
                raise ValueError(f"no such line: {name}")
        lock = os.open(self._path(device, ".lock"), os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
        try:
            fcntl.flock(lock, fcntl.LOCK_EX)
            state = self.state(device)
            state.update({name: 1 if value else 0 for name, value in lines.items()})
            text = " ".join(f"{name}={state[name]}" for name in LINES) + "\n"
            temp = self._path("." + device, f".lines.{os.getpid()}")
            with open(temp, "w", encoding="ascii") as f:
                f.write(text)
            before = time.monotonic_ns()
            os.rename(temp, self._path(device, ".lines"))
            changed_at = time.monotonic_ns()
            self._append_log(changed_at, device, "drive", tuple(lines), state)
            return before, changed_at
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)
            os.close(lock)

    def _append_log(self, t, device, op, written, state):
        values = " ".join(f"{name}={state[name]}" for name in LINES)
        entry = (f"t={t} wall={time.time_ns()} pid={os.getpid()} dev={device} op={op} "
                 f"lines={','.join(written) or '-'} {values}\n")
        fd = os.open(os.path.join(self.directory, self.LOG_NAME),
                     os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_CLOEXEC, 0o644)
        try:
            os.write(fd, entry.encode("ascii"))
        finally:
            os.close(fd)

    def log(self, device=None):
        """All log entries in order, or those of one device."""
        try:
            with open(os.path.join(self.directory, self.LOG_NAME), encoding="ascii") as f:
                raw = f.read()
        except FileNotFoundError:
            return []
        entries = []
        # A line still being appended has no newline yet: leave it for next time.
        for text in raw.split("\n")[:-1]:
            entry = LogEntry.parse(text)
            if entry and (device is None or entry.dev == device):
                entries.append(entry)
        return entries

    def writes(self, device, line="RTS"):
        """The program's requests that wrote `line` on a device, in order."""
        return [e for e in self.log(device) if e.op != "drive" and e.writes(line)]

    def reads(self, device):
        """The program's TIOCMGET requests on a device, in order."""
        return [e for e in self.log(device) if e.op == "get"]

    def waits(self, device):
        """The program's waits for a line change on a device, as each began."""
        return [e for e in self.log(device) if e.op == "wait"]

    def wakes(self, device):
        """The program's waits for a line change that returned on a change."""
        return [e for e in self.log(device) if e.op == "woke"]

    def opens(self):
        """Every path under /dev/ the program tried to open, in order."""
        try:
            with open(os.path.join(self.directory, "opens.log"), encoding="utf-8") as f:
                raw = f.read()
        except FileNotFoundError:
            return []
        return [line.split(" path=", 1)[1] for line in raw.split("\n")[:-1] if " path=" in line]

    def wait_pending(self, device):
        """Whether the program is inside a wait for a line change on a device:
        its last wait began and has neither woken nor ended."""
        ends = [e.op for e in self.log(device) if e.op in ("wait", "woke", "ended")]
        return bool(ends) and ends[-1] == "wait"
