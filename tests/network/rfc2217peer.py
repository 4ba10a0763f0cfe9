#!/usr/bin/python3
"""An RFC 2217 device server on 127.0.0.1 with a fake serial port behind it.

It is pyserial's serial.rfc2217.PortManager (Debian package python3-serial;
run it with /usr/bin/python3, whose packages those are) over a port object
that has no hardware: whoever runs this script drives the port's CTS input
and watches its RTS output. One client at a time; when it goes, the next
connection is accepted, as a device server does.

    /usr/bin/python3 rfc2217peer.py [--port N] [--control-port M]

--port 0 (the default) lets the system pick a free port; --control-port
likewise, and without it there is no control socket. The end of standard
input stops the script (so it never outlives whoever started it); run it
with --no-stdin when it is driven through the control socket alone.

Control, with the same line protocol on standard input/output and, with
--control-port, on a TCP socket on 127.0.0.1 (any number of control
clients, e.g. `socat - TCP:127.0.0.1:M`):

  lines the script writes, each flushed at once:
    listening PORT [CONTROLPORT]   first line, once the sockets are open
    client HOST:PORT               a client connected
    rts 0|1 NANOSECONDS            the port's RTS changed (time.monotonic_ns())
    cts 0|1 NANOSECONDS            answer to a "cts" command, when it is applied
    gone                           the client disconnected
    data N                         the client sent N data bytes (outside
                                   Telnet commands), e.g. a heartbeat
    state rts=0|1 cts=0|1 baud=N bytesize=N parity=P stopbits=N rtscts=0|1 client=0|1 dtr=0|1
                                   answer to "state"
  commands it reads:
    cts 1 / cts 0    drive CTS; the client is notified within 10 to 20 ms
    state            ask for a "state" line
    drop             disconnect the client (the server "reboots")
    quit             stop

Like a tty being opened, the port raises RTS when a client connects
(--no-rts-on-connect turns that off), so a client must set RTS itself.
Killing the script (SIGKILL) is the way to test a lost connection.
"""

import argparse
import os
import selectors
import socket
import sys
import time

import serial.rfc2217


class FakePort:
    """The attributes PortManager reads and writes on a serial.Serial."""

    def __init__(self, report):
        self._report = report
        self._rts = False
        self.baudrate = 115200
        self.bytesize = 7
        self.parity = 'E'
        self.stopbits = 2
        self.xonxoff = False
        self.rtscts = True
        self.dtr = False
        self.break_condition = False
        self.cts = False
        self.dsr = False
        self.ri = False
        self.cd = False

    @property
    def rts(self):
        return self._rts

    @rts.setter
    def rts(self, value):
        value = bool(value)
        if value != self._rts:
            self._rts = value
            self._report('rts %d %d' % (value, time.monotonic_ns()))

    def reset_input_buffer(self):
        pass

    def reset_output_buffer(self):
        pass


class Connection:
    """What PortManager writes its answers to."""

    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        try:
            self.sock.sendall(data)
        except OSError:
            pass


class Peer:
    def __init__(self, args):
        self.args = args
        self.selector = selectors.DefaultSelector()
        self.controls = []
        self.client = None
        self.manager = None
        self.running = True
        self.port = FakePort(self.report)

        self.listener = self.listen(args.port)
        self.selector.register(self.listener, selectors.EVENT_READ, self.accept_client)
        self.control_listener = None
        if args.control_port is not None:
            self.control_listener = self.listen(args.control_port)
            self.selector.register(self.control_listener, selectors.EVENT_READ, self.accept_control)
        self.stdin_buffer = b''
        if not args.no_stdin:
            self.selector.register(sys.stdin.buffer.raw, selectors.EVENT_READ, self.read_stdin)

    @staticmethod
    def listen(port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(('127.0.0.1', port))
        sock.listen(4)
        sock.setblocking(False)
        return sock

    def report(self, line):
        data = (line + '\n').encode()
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()
        for control in list(self.controls):
            try:
                control[0].sendall(data)
            except OSError:
                self.close_control(control)

    def accept_client(self, sock):
        conn, address = sock.accept()
        if self.client is not None:
            conn.close()  # one client at a time, as a device server's port
            return
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.client = conn
        if not self.args.no_rts_on_connect:
            self.port.rts = True
        self.manager = serial.rfc2217.PortManager(self.port, Connection(conn))
        self.selector.register(conn, selectors.EVENT_READ, self.read_client)
        self.report('client %s:%d' % address)

    def read_client(self, sock):
        try:
            data = sock.recv(4096)
        except OSError:
            data = b''
        if not data:
            self.drop_client()
            return
        # Data bytes: the fake port has no wire to send them on, but whoever
        # runs us may count them.
        count = sum(len(chunk) for chunk in self.manager.filter(data))
        if count:
            self.report('data %d' % count)

    def drop_client(self):
        if self.client is None:
            return
        self.selector.unregister(self.client)
        self.client.close()
        self.client = None
        self.manager = None
        self.report('gone')

    def accept_control(self, sock):
        conn, _ = sock.accept()
        control = [conn, b'']
        self.controls.append(control)
        self.selector.register(conn, selectors.EVENT_READ, lambda s: self.read_control(control))

    def close_control(self, control):
        if control in self.controls:
            self.controls.remove(control)
            self.selector.unregister(control[0])
            control[0].close()

    def read_control(self, control):
        try:
            data = control[0].recv(4096)
        except OSError:
            data = b''
        if not data:
            self.close_control(control)
            return
        control[1] = self.run_commands(control[1] + data)

    def read_stdin(self, stream):
        data = os.read(stream.fileno(), 4096)
        if not data:
            # Whoever started us has gone: so do we.
            self.running = False
            return
        self.stdin_buffer = self.run_commands(self.stdin_buffer + data)

    def run_commands(self, buffer):
        while b'\n' in buffer:
            line, buffer = buffer.split(b'\n', 1)
            self.run_command(line.decode(errors='replace').split())
        return buffer[-4096:]

    def run_command(self, words):
        if not words:
            return
        if words[0] == 'cts' and len(words) == 2:
            self.port.cts = words[1] not in ('0', 'off', 'false')
            if self.manager is not None:
                self.manager.check_modem_lines()
            self.report('cts %d %d' % (self.port.cts, time.monotonic_ns()))
        elif words[0] == 'state':
            p = self.port
            self.report('state rts=%d cts=%d baud=%d bytesize=%d parity=%s stopbits=%s rtscts=%d client=%d dtr=%d' % (
                p.rts, p.cts, p.baudrate, p.bytesize, p.parity, p.stopbits, p.rtscts, self.client is not None, p.dtr))
        elif words[0] == 'drop':
            self.drop_client()
        elif words[0] == 'quit':
            self.running = False

    def run(self):
        ports = [str(self.listener.getsockname()[1])]
        if self.control_listener is not None:
            ports.append(str(self.control_listener.getsockname()[1]))
        self.report('listening ' + ' '.join(ports))
        while self.running:
            # PortManager notifies modem line changes only when asked to look.
            for key, _ in self.selector.select(timeout=0.01):
                key.data(key.fileobj)
            if self.manager is not None:
                self.manager.check_modem_lines()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--port', type=int, default=0)
    parser.add_argument('--control-port', type=int, default=None)
    parser.add_argument('--no-rts-on-connect', action='store_true')
    parser.add_argument('--no-stdin', action='store_true',
                        help='ignore standard input (when run in the background)')
    Peer(parser.parse_args()).run()


if __name__ == '__main__':
    main()
