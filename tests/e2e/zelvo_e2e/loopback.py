"""Ports on 127.0.0.1 for servers that a test starts.

The sockets are looked up in /proc/net/tcp ("sl local rem st ...",
addresses as hex IP:PORT, state 0A for LISTEN and 01 for ESTABLISHED)
rather than by connecting: a probe connection would make a device server
open its device, and it could still be closing when the program connects.
"""

import socket

LOOPBACK = "0100007F"
LISTEN = "0A"
ESTABLISHED = "01"


def free_port():
    """A free TCP port on 127.0.0.1, given back just before a server takes it."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def tcp_table():
    """(local, remote, state) of every IPv4 socket, addresses as
    "0100007F:1F90"."""
    with open("/proc/net/tcp", encoding="ascii") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return [(r[1].upper(), r[2].upper(), r[3]) for r in rows if len(r) > 3]


def listening(port):
    """Whether something listens on 127.0.0.1:port."""
    wanted = f"{LOOPBACK}:{port:04X}"
    return any(local == wanted and state == LISTEN for local, _, state in tcp_table())


def client_ports(port):
    """The local ports of the established connections to 127.0.0.1:port (a
    new connection has a new one)."""
    server = f"{LOOPBACK}:{port:04X}"
    return {int(local.split(":")[1], 16) for local, remote, state in tcp_table()
            if remote == server and state == ESTABLISHED}
