"""The rig's parts for the C++ tests, which have no copy of their own:

    python3 -m zelvo_e2e certificates FOLDER
        makes TestCertificates in FOLDER
    python3 -m zelvo_e2e ser2net --device PATH [--connector 9600n81,local]
            [--timeout S] [--certificates FOLDER [--server-certificate NAME]]
            [--modemlines LIBRARY --lines-dir FOLDER]
        runs a Ser2net on PLAIN_PROFILE, prints "listening PORT OUTPUT-FILE"
        once it listens and stops it at the end of its standard input
    python3 -m zelvo_e2e modemlines FOLDER DEVICE log [--op OP] [--writes LINE]
        prints the requests of the code under test in the device's
        modem-line log (those of one op, or the writes of one line; no
        op=drive) as a JSON list of {"op", "pid", "t", "lines", "values"}
    python3 -m zelvo_e2e modemlines FOLDER DEVICE state
        prints the device's lines as JSON: {"RTS": 0|1, ...}
    python3 -m zelvo_e2e modemlines FOLDER DEVICE drive LINE=0|1 ...
        sets lines as ModemLines.drive() does
    python3 -m zelvo_e2e rigctld [--port PORT]
        runs Hamlib's rigctld with the dummy rig, prints "listening PORT"
        once it listens and stops it at the end of its standard input
    python3 -m zelvo_e2e catrelay UPSTREAM [--delay-ms MS] [--ptt-reads 0|1]
        relays to rigctld on UPSTREAM, each answer MS late (80), every read
        of PTT answered with the value given; prints "listening PORT"
    python3 -m zelvo_e2e mosquitto [--port PORT] [--tls FOLDER]
        runs Debian's MQTT broker on 127.0.0.1 (TLS only with the
        certificates in FOLDER), prints "listening PORT" once it listens
        and stops it at the end of its standard input
    python3 -m zelvo_e2e rigctld-ptt PORT
        prints the PTT that rigctld on PORT reports (0 or 1)

Run from tests/e2e (the folder that holds this package) with /usr/bin/python3.
"""

import argparse
import json
import signal
import sys

from .certificates import TestCertificates
from .modemlines import ModemLines


def certificates(args):
    TestCertificates(args.folder)


def ser2net(args):
    from .ser2netpeer import PLAIN_PROFILE, Ser2net  # with the rig around it: only here

    # SIGTERM ends it as the end of the input does: ser2net goes with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    tls = TestCertificates(args.certificates, make=False) if args.certificates else None
    with Ser2net(args.device, args.modemlines, args.lines_dir, timeout=args.timeout, certificates=tls,
                 profile=PLAIN_PROFILE, connector=args.connector, server_certificate=args.server_certificate) as server:
        print(f"listening {server.port} {server.path('ser2net.out')}", flush=True)
        sys.stdin.read()


def modemlines(args):
    lines = ModemLines(args.folder)
    if args.request == "drive":
        lines.drive(args.device, **{name: value == "1" for name, value in (w.split("=", 1) for w in args.lines)})
    elif args.request == "state":
        print(json.dumps(lines.state(args.device)))
    else:
        entries = lines.writes(args.device, args.writes) if args.writes else lines.log(args.device)
        print(json.dumps([{"op": e.op, "pid": e.pid, "t": e.t, "lines": list(e.lines), "values": e.values}
                          for e in entries if e.op != "drive" and args.op in (None, e.op)]))


def rigctld(args):
    from .rigctld import Rigctld

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with Rigctld(args.port) as server:
        print(f"listening {server.port}", flush=True)
        sys.stdin.read()


def mosquitto(args):
    from .mosquitto import Mosquitto

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with Mosquitto(args.port, args.tls) as broker:
        print(f"listening {broker.port}", flush=True)
        sys.stdin.read()


def catrelay(args):
    from .catrelay import CatRelay

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with CatRelay(args.upstream, args.delay_ms, args.ptt_reads) as relay:
        print(f"listening {relay.port}", flush=True)
        sys.stdin.read()


def rigctld_ptt(args):
    from .rigctld import ask

    print(int(ask(args.port, "t")))


def main():
    parser = argparse.ArgumentParser(prog="python3 -m zelvo_e2e", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(required=True)
    command = commands.add_parser("certificates")
    command.add_argument("folder")
    command.set_defaults(run=certificates)
    command = commands.add_parser("ser2net")
    command.add_argument("--device", required=True)
    command.add_argument("--connector", default="9600n81,local")
    command.add_argument("--timeout", type=int, default=0)
    command.add_argument("--certificates")
    command.add_argument("--server-certificate", default="server")
    command.add_argument("--modemlines")
    command.add_argument("--lines-dir")
    command.set_defaults(run=ser2net)
    command = commands.add_parser("modemlines")
    command.add_argument("folder")
    command.add_argument("device")
    command.add_argument("request", choices=("log", "state", "drive"))
    command.add_argument("lines", nargs="*", metavar="LINE=0|1")
    command.add_argument("--op")
    command.add_argument("--writes")
    command.set_defaults(run=modemlines)
    command = commands.add_parser("rigctld")
    command.add_argument("--port", type=int)
    command.set_defaults(run=rigctld)
    command = commands.add_parser("mosquitto")
    command.add_argument("--port", type=int)
    command.add_argument("--tls")
    command.set_defaults(run=mosquitto)
    command = commands.add_parser("catrelay")
    command.add_argument("upstream", type=int)
    command.add_argument("--delay-ms", type=int, default=80)
    command.add_argument("--ptt-reads", type=int)
    command.set_defaults(run=catrelay)
    command = commands.add_parser("rigctld-ptt")
    command.add_argument("port", type=int)
    command.set_defaults(run=rigctld_ptt)
    args = parser.parse_args()
    args.run(args)


main()
