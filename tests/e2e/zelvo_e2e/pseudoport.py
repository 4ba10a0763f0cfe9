"""A pseudo-terminal standing in for one serial port of the program."""

import os
import termios


class PseudoPort:
    """One pseudo-terminal pair: the program opens `path` (the slave, as
    /dev/pts/N); the test holds the master, the far end of the cable.

    `device` is the name the modem-line library files its state under.
    close_master() makes the device go away as an unplugged adapter does:
    from then on the program's requests on it fail with EIO.
    """

    def __init__(self):
        self._master, slave = os.openpty()
        try:
            self.path = os.ttyname(slave)
        finally:
            # The master alone keeps the pair alive; the program opens its own slave.
            os.close(slave)
        self.device = "pts-" + self.path.rsplit("/", 1)[-1]

    @property
    def is_open(self):
        return self._master is not None

    def control_flags(self):
        """The terminal's c_cflag (termios) as whoever opened `path` set it,
        read on the master, e.g. to see HUPCL or CLOCAL."""
        return termios.tcgetattr(self._master)[2]

    def close_master(self):
        if self._master is not None:
            os.close(self._master)
            self._master = None

    def __repr__(self):
        return f"PseudoPort({self.path})"
