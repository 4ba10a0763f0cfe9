"""Ports on 127.0.0.1 for servers that a test starts."""

import socket


def free_port():
    """A free TCP port on 127.0.0.1, given back just before a server takes it."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    """Whether something listens on 127.0.0.1:port.

    Looks in /proc/net/tcp ("sl local rem st ...", addresses as hex IP:PORT,
    0A for LISTEN) rather than connecting: a probe connection would make a
    device server open its device, and it could still be closing when the
    program connects.
    """
    wanted = f"0100007F:{port:04X}"
    with open("/proc/net/tcp", encoding="ascii") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            if len(fields) > 3 and fields[1].upper() == wanted and fields[3] == "0A":
                return True
    return False
