"""End-to-end harness for zelvo-footswitch2 (Python 3, standard library only;
run with /usr/bin/python3).

The real program runs under the private X server of tests/with-xserver.sh,
with every port number it can choose (Com1 to Com9) mapped to a pseudo-
terminal in a throw-away settings file, and with the modem-line library
(tests/modemlines, LD_PRELOAD) giving those pseudo-terminals RTS, DTR, CTS,
DSR, DCD and RI. The test plays the footswitch and the relay: it drives CTS
and reads RTS and the log of every modem-line request the program made.

    from zelvo_e2e import FootswitchRig, wait_until

    with FootswitchRig(program, modemlines) as rig:   # ComPort=1, ComPort2=2
        rig.start()
        rig.wait_until_open()
        rig.press()
        rig.wait_for_rts(rig.output, 1)

FootswitchRig    the program, its ports, settings, signals and windows
PseudoPort       one pseudo-terminal (path, device name, close_master())
ModemLines       the library's state and log files (state, drive, log, writes)
LogEntry         one logged request (monotonic time, device, op, lines, values)
wait_until       poll a condition with a deadline
ProgramTestCase  a TestCase for the program in self.rig: its output (and
                 the sections of failure_report()) shown when a test fails

Beside them (import from the modules):
networkpeer      NetworkPeer (an RFC 2217 peer, tests/network/rfc2217peer.py),
                 NetworkRig (ports on such peers)
ser2netpeer      Ser2net (ser2net in front of a pseudo-terminal, with the
                 shipped remote profile resources/ser2net/zelvo-remote.yaml
                 or PLAIN_PROFILE, over TLS with a client certificate
                 demanded when given certificates), Ser2netRig (the output
                 through it), TlsRig (the same over TLS)
certificates     TestCertificates: a CA, another CA, server and client
                 certificates made with openssl for a run
tlsterminator    TlsTerminator: socat accepting TLS in front of a plain peer
mosquitto        Mosquitto: Debian's MQTT broker, plain or TLS only
helperprocess    HelperProcess: the base of Ser2net and TlsTerminator, a
                 program listening on 127.0.0.1 with its output in a file
loopback         free_port(), listening(port), client_ports(port) on 127.0.0.1
mainwindowdriver MainWindowDriver (xdotool clicks and keys)
__main__         the same parts as commands for the C++ tests (python3 -m
                 zelvo_e2e certificates | ser2net | modemlines | rigctld |
                 mosquitto ...)

Command-line options shared by the e2e scripts: add_program_arguments(parser)
adds --program and --modemlines; run_tests(module) runs a script's tests with them.
ProgramTestCase shows the program's output when a test fails.
"""

import importlib

# Imported when first asked for, so that a command of __main__.py (run by a
# C++ test, maybe many times) loads only what it uses.
_MODULES = {"FootswitchRig": "footswitchrig", "LogEntry": "logentry", "ModemLines": "modemlines",
            "add_program_arguments": "options", "run_tests": "options", "Timeout": "polling",
            "wait_until": "polling", "ProgramTestCase": "programtestcase", "PseudoPort": "pseudoport"}

__all__ = sorted(_MODULES)


def __getattr__(name):
    if name not in _MODULES:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    return getattr(importlib.import_module("." + _MODULES[name], __name__), name)
