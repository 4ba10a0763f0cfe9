"""One line of the modem-line library's log (tests/modemlines/modemlines.c)."""

from dataclasses import dataclass, field


@dataclass(frozen=True)
class LogEntry:
    """A modem-line request of the program, or a line change made by a test.

    t:      CLOCK_MONOTONIC in nanoseconds (time.monotonic_ns() in Python)
    wall:   CLOCK_REALTIME in nanoseconds
    pid:    process that made the request
    dev:    device name, "pts-N" for /dev/pts/N
    op:     "get" (TIOCMGET), "set" (TIOCMSET), "bis" (TIOCMBIS),
            "bic" (TIOCMBIC), "wait" (TIOCMIWAIT began waiting), "woke"
            (TIOCMIWAIT returned on a change), "ended" (TIOCMIWAIT failed: a
            signal stopped it, or the device went away), or "drive" (a test
            changed an input line)
    lines:  the lines the request wrote, e.g. ("RTS",) or ("RTS", "DTR");
            empty for a read
    values: every line's state after the request, e.g. {"RTS": 1, "CTS": 0}
    req:    CLOCK_MONOTONIC (ns) as the program made the request, before the
            library's own file work; t for a test's change
    """

    t: int
    wall: int
    pid: int
    dev: str
    op: str
    lines: tuple
    values: dict = field(compare=False)
    req: int = field(default=0, compare=False)

    @staticmethod
    def parse(text):
        """The entry of one log line, or None for a line that is not one."""
        fields = dict(part.split("=", 1) for part in text.split() if "=" in part)
        try:
            lines = () if fields.get("lines", "-") == "-" else tuple(fields["lines"].split(","))
            values = {k: int(fields[k]) for k in ("RTS", "DTR", "CTS", "DSR", "DCD", "RI") if k in fields}
            return LogEntry(int(fields["t"]), int(fields["wall"]), int(fields["pid"]), fields["dev"],
                            fields["op"], lines, values, int(fields.get("req", fields["t"])))
        except (KeyError, ValueError):
            return None

    def writes(self, line):
        """Whether this request wrote `line` ("RTS", "DTR")."""
        return line in self.lines

    def value(self, line):
        return self.values.get(line, 0)
