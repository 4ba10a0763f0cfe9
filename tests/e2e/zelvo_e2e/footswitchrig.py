"""The real program on pseudo-terminal ports, under the X server of the test."""

import configparser
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from typing import NamedTuple

from .modemlines import ModemLines
from .polling import wait_until
from .pseudoport import PseudoPort

PORT_NUMBERS = range(1, 10)
APP_NAME = "Zelvo-Footswitch2"
# The name the program gives the thread that waits for line changes.
LINE_WAITER_THREAD = "zelvo-linewait"


class EngineStep(NamedTuple):
    """One step of the engine's walk through a chain of outputs, from its
    debug log: `t`, the CLOCK_MONOTONIC time (ns, to the millisecond) it was
    taken, `output` (1..N) and whether it `keyed` or released it."""

    t: int
    output: int
    keyed: bool


_ENGINE_STEP = re.compile(r"^\s*(\d+)\.(\d{3}) zelvo\.engine: output (\d+) (keyed|released) at ", re.M)


def _spin_until(t_ns):
    while time.monotonic_ns() < t_ns:
        pass


class Pulses(NamedTuple):
    """What bounce() and glitch() did: `began`, the time (ns) right before
    the first change, and `longest_ns`, an upper bound of how long any level
    but the last held."""

    began: int
    longest_ns: int


def _longest_hold(times):
    # A level held from some moment after one rename began to some moment
    # before the next one ended.
    return max(after - before for (before, _), (_, after) in zip(times, times[1:]))


class FootswitchRig:
    """Runs zelvo-footswitch2 with every port it can choose mapped to a
    pseudo-terminal, and gives the test the far end of each.

    The rig makes a temporary folder holding XDG_CONFIG_HOME (with the
    settings file), the modem-line library's files and the program's output.
    Each of Com1 to Com9 is mapped (settings group "Ports") to a pseudo-
    terminal of its own, or to a path that does not exist for a number given
    in `absent`, so the program can never reach a real serial port.

    Parameters: `program` and `modemlines` are the paths of the program and of
    libzelvo_modemlines.so; `settings` holds the "Settings" keys to store
    before the start (default ComPort=1, ComPort2=2, so both ports open
    cleanly; pass {} for a clean store); `absent` is a set of port numbers
    without a device; `env` adds to the program's environment;
    `settings_file=False` starts with no settings file at all, as a first
    start does (every number then means the machine's own port: the test
    must prove from rig.lines.opens() that none was touched).

    DISPLAY must be set (run under tests/with-xserver.sh).

        with FootswitchRig(program, modemlines) as rig:
            rig.start()
            rig.wait_until_open()
            rig.press()                       # CTS high on the input port
            rig.wait_for_rts(rig.output, 1)
            rig.release()

    Ports: rig.port(n) is the PseudoPort of Com<n> (rig.input and rig.output
    follow ComPort/ComPort2 as stored at the start); rig.lines is the
    ModemLines of the run: state(dev), line(dev, "RTS"), drive(dev, CTS=1),
    log(dev), writes(dev, "RTS"), reads(dev), wait_pending(dev). bounce()
    and glitch() drive the footswitch line as a bouncing contact and a
    spike do; wait_for_line(port, "DTR", 1) waits for the program's write,
    first_write(port, "RTS", 1, after=t) finds it in the log.

    Program: start() (again once the last run has ended), pid, running(),
    send_signal(sig), stop() (SIGTERM, then SIGKILL after a deadline; returns
    the exit status), kill(), program_output() (its stdout and stderr so far;
    each message of the program begins with its CLOCK_MONOTONIC time in
    seconds, to the millisecond), engine_steps() (the engine's walk, as
    EngineStep),
    cpu_seconds(), peak_memory_kib(), thread_names(). start_another() starts a further copy
    on the same settings and folders, as a user starting it twice does.

    Settings: settings_path, read_settings(group="Settings"),
    write_settings(values, group="Settings"), settings_bytes(); lock_path
    (the lock file of the running program beside the settings file).

    Windows: windows(name_regex) lists visible X windows of the program
    whose title matches (xdotool); window_title(wid).
    """

    def __init__(self, program, modemlines, settings=None, absent=(), env=None, pluggable=(), settings_file=True):
        self.program = os.path.abspath(program)
        self.modemlines = os.path.abspath(modemlines)
        self.settings = {"ComPort": "1", "ComPort2": "2"} if settings is None else dict(settings)
        self.absent = set(absent)
        # Numbers mapped through a link of their own, as an adapter is under
        # /dev/serial/by-id: unplug() and plug_in() swap the device behind it.
        self.pluggable = set(pluggable)
        self._unplugged = set()
        self.extra_env = dict(env or {})
        self.settings_file = settings_file
        self.process = None
        self._ports = {}
        self._workdir = tempfile.mkdtemp(prefix="zelvo-e2e-")
        self.config_home = os.path.join(self._workdir, "config")
        self.lines_dir = os.path.join(self._workdir, "modemlines")
        self.by_id_dir = os.path.join(self._workdir, "by-id")
        self.runtime_dir = os.path.join(self._workdir, "runtime")
        # Where the log of time on air goes.
        self.state_home = os.path.join(self._workdir, "state")
        for folder in (self.config_home, self.lines_dir, self.runtime_dir, self.by_id_dir):
            os.makedirs(folder, mode=0o700)
        self.settings_path = os.path.join(self.config_home, APP_NAME, APP_NAME + ".conf")
        self.lock_path = self.settings_path + ".running"
        self.lines = ModemLines(self.lines_dir)
        self._stdout_path = os.path.join(self._workdir, "program.out")
        for number in PORT_NUMBERS:
            if number not in self.absent:
                self._ports[number] = PseudoPort()
        for number in self.pluggable:
            os.symlink(self._ports[number].path, self.stable_path(number))
        if settings_file:
            self._write_initial_settings()

    # -- context -----------------------------------------------------------

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        """Stops the program if it runs, closes every port, removes the folder."""
        if self.process is not None and self.process.poll() is None:
            self.stop()
        if self.process is not None and not self._stdout.closed:
            self._stdout.close()
        for port in self._ports.values():
            port.close_master()
        shutil.rmtree(self._workdir, ignore_errors=True)

    # -- ports -------------------------------------------------------------

    def port(self, number):
        """The PseudoPort behind Com<number> (KeyError for an absent one)."""
        return self._ports[number]

    def stable_path(self, number):
        """The link a pluggable Com<number> is mapped to."""
        return os.path.join(self.by_id_dir, f"usb-adapter-com{number}")

    def unplug(self, number):
        """Pulls the adapter of a pluggable Com<number>: its device fails
        with EIO from now on, and its stable name is gone."""
        os.unlink(self.stable_path(number))
        self._ports[number].close_master()
        self._unplugged.add(self._ports[number].device)

    def plug_in(self, number):
        """Plugs an adapter back into a pluggable Com<number>: a new device
        under the same stable name. Returns its PseudoPort."""
        # A new device, not the old one's number again: the modem-line
        # library would hand it the old device's lines and log.
        used = {p.device for p in self._ports.values()} | self._unplugged
        spares = []
        port = PseudoPort()
        while port.device in used:
            spares.append(port)
            port = PseudoPort()
        for spare in spares:
            spare.close_master()
        self._ports[number] = port
        os.symlink(port.path, self.stable_path(number))
        return port

    def _stored_port(self, key, default):
        value = self.settings.get(key, default)
        return int(value) if value in [str(n) for n in PORT_NUMBERS] else None

    @property
    def input(self):
        """The footswitch port, as ComPort was stored at the start."""
        return self._ports[self._stored_port("ComPort", "1")]

    @property
    def output(self):
        """The relay port, as ComPort2 was stored at the start."""
        return self._ports[self._stored_port("ComPort2", "1")]

    def press(self, port=None):
        """Closes the footswitch: CTS high on the input port. Returns the
        CLOCK_MONOTONIC time of the change in ns."""
        return self.lines.drive((port or self.input).device, CTS=1)

    def release(self, port=None):
        """Opens the footswitch: CTS low on the input port. Returns the time."""
        return self.lines.drive((port or self.input).device, CTS=0)

    def bounce(self, value, line="CTS", port=None, bounces=3, span_ns=3_000_000):
        """Sets `line` of the input port to `value` as a worn contact does:
        it goes back and forth `bounces` times within span_ns before it
        settles. Returns a Pulses: the time right before the first change,
        and how long at most a level in between held (the test may have been
        kept off the processor for longer than the bounce was meant to take)."""
        device = (port or self.input).device
        times = [self.lines.drive_between(device, **{line: value})]
        first = times[0][1]
        changes = 2 * bounces
        for i in range(changes):
            # Spins: a sleep's wake-up is too coarse for changes 0.4 ms apart.
            _spin_until(first + (i + 1) * span_ns // (changes + 1))
            times.append(self.lines.drive_between(device, **{line: value if i % 2 else 1 - value}))
        return Pulses(times[0][0], _longest_hold(times))

    def glitch(self, value, line="CTS", port=None, length_ns=2_000_000):
        """`line` of the input port to `value` for length_ns, then back.
        Returns a Pulses: the time right before it began, and how long it
        lasted at most."""
        device = (port or self.input).device
        times = [self.lines.drive_between(device, **{line: value})]
        _spin_until(times[0][1] + length_ns)
        times.append(self.lines.drive_between(device, **{line: 1 - value}))
        return Pulses(times[0][0], _longest_hold(times))

    def rts(self, port):
        return self.lines.line(port.device, "RTS")

    def wait_for_rts(self, port, value, timeout=5.0):
        self.wait_for_line(port, "RTS", value, timeout)

    def wait_for_line(self, port, line, value, timeout=5.0):
        """Waits until the program has written `line` ("RTS", "DTR") of a
        port to `value`."""
        # The library renames the state file before it appends the log entry
        # of the same request: wait for both, so that callers can read the log.
        def written():
            if self.lines.line(port.device, line) != value:
                return False
            writes = self.lines.writes(port.device, line)
            return bool(writes) and writes[-1].value(line) == value
        wait_until(written, timeout, message=f"{line}={value} on {port.path}")

    def wait_ticks(self, count=1, port=None, timeout=5.0):
        """Waits until the program has read the input port's lines `count`
        more times (each poll tick reads CTS once)."""
        port = port or self.input
        start = len(self.lines.reads(port.device))
        wait_until(lambda: len(self.lines.reads(port.device)) >= start + count, timeout,
                   message=f"{count} poll reads of {port.path}")

    def first_write(self, port, line, value, after):
        """The log entry of the program's first write of `line` to `value`
        on a port after CLOCK_MONOTONIC time `after` (ns); None if none."""
        return next((e for e in self.lines.writes(port.device, line) if e.t > after and e.value(line) == value),
                    None)

    def wait_until_ready(self, timeout=10.0):
        """Waits for the engine to report the output ready and released: the
        ports open in the background, and a press before that keys nothing."""
        wait_until(lambda: "Cause::OutputReady" in self.program_output(), timeout,
                   message="the output ready")

    def wait_until_open(self, timeout=10.0):
        """Waits for a clean start: the input port's RTS raised as supply, the
        output port opened (its RTS written once at the open) and the first
        poll tick read the input."""
        wait_until(lambda: self.rts(self.input) == 1, timeout, message="RTS raised on the input port")
        wait_until(lambda: self.lines.writes(self.output.device, "RTS"), timeout,
                   message="the output port opened")
        self.wait_until_ready(timeout)
        self.wait_ticks(1, timeout=timeout)

    # -- settings ----------------------------------------------------------

    def _write_initial_settings(self):
        os.makedirs(os.path.dirname(self.settings_path), exist_ok=True)
        ports = {}
        for number in PORT_NUMBERS:
            if number in self.pluggable:
                ports[f"Com{number}"] = self.stable_path(number)
            elif number in self._ports:
                ports[f"Com{number}"] = self._ports[number].path
            else:
                ports[f"Com{number}"] = os.path.join(self._workdir, f"absent-com{number}")
        with open(self.settings_path, "w", encoding="utf-8") as f:
            if self.settings:
                f.write("[Settings]\n")
                for key, value in self.settings.items():
                    f.write(f"{key}={value}\n")
                f.write("\n")
            f.write("[Ports]\n")
            for key, value in ports.items():
                f.write(f"{key}={value}\n")

    def _check_every_port_mapped(self):
        ports = self.read_settings("Ports")
        for number in PORT_NUMBERS:
            device = ports.get(f"Com{number}", "")
            # The program's own default for a missing key is the machine's
            # serial port; a test must never touch that.
            if not device or device.startswith("/dev/ttyS"):
                raise RuntimeError(f"Com{number} is not mapped to a test device: {device!r}")

    def read_settings(self, group="Settings"):
        """The keys of one group of the settings file, as texts."""
        parser = configparser.ConfigParser(interpolation=None, strict=False)
        parser.optionxform = str
        parser.read(self.settings_path, encoding="utf-8")
        return dict(parser[group]) if parser.has_section(group) else {}

    def settings_bytes(self):
        """The settings file as it is on disk."""
        with open(self.settings_path, "rb") as f:
            return f.read()

    def write_settings(self, values, group="Settings"):
        """Sets keys of one group (the program re-reads the file at each read)."""
        parser = configparser.ConfigParser(interpolation=None, strict=False)
        parser.optionxform = str
        parser.read(self.settings_path, encoding="utf-8")
        if not parser.has_section(group):
            parser.add_section(group)
        for key, value in values.items():
            parser[group][key] = str(value)
        with open(self.settings_path, "w", encoding="utf-8") as f:
            parser.write(f, space_around_delimiters=False)

    # -- the program -------------------------------------------------------

    def environment(self):
        env = dict(os.environ)
        if "DISPLAY" not in env:
            raise RuntimeError("DISPLAY is not set: run under tests/with-xserver.sh")
        preload = env.get("LD_PRELOAD", "")
        env["LD_PRELOAD"] = self.modemlines + (":" + preload if preload else "")
        env["ZELVO_MODEMLINES_DIR"] = self.lines_dir
        env["XDG_CONFIG_HOME"] = self.config_home
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env["XDG_STATE_HOME"] = self.state_home
        env.setdefault("QT_QPA_PLATFORM", "xcb")
        # The engine says when the output is ready (wait_until_ready), the
        # wiring assistant when it listens and what it found.
        env["QT_LOGGING_RULES"] = "zelvo.engine.debug=true;zelvo.wiring.debug=true"
        # Each message with the time it was made on the clock of the
        # modem-line log (Qt's "boot" time is CLOCK_MONOTONIC).
        env["QT_MESSAGE_PATTERN"] = "%{time boot} %{if-category}%{category}: %{endif}%{message}"
        # A sanitized program refuses a library loaded ahead of its runtime.
        asan = env.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
        env.update(self.extra_env)
        return env

    def start(self, *arguments, display=True):
        """Starts the program, or starts it again once the last run has ended
        (its output is appended). The settings file is checked first: every
        port number must be mapped to a test device. Without `display` the
        program sees no X or Wayland server at all."""
        if self.running():
            raise RuntimeError("already started")
        if self.settings_file:
            self._check_every_port_mapped()
        env = self.environment()
        if not display:
            for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
                env.pop(name, None)
        self._stdout = open(self._stdout_path, "ab")
        self.process = subprocess.Popen([self.program, *arguments], env=env, cwd=self._workdir,
                                        stdin=subprocess.DEVNULL, stdout=self._stdout,
                                        stderr=subprocess.STDOUT)
        return self.process

    def start_another(self):
        """Starts a further copy of the program with the same environment
        (settings file, modem-line and runtime folders) and returns its
        subprocess.Popen, stdout and stderr together in a pipe: the caller
        waits for it, e.g. with communicate(timeout=...), or kills it."""
        self._check_every_port_mapped()
        return subprocess.Popen([self.program], env=self.environment(), cwd=self._workdir,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process is not None and self.process.poll() is None

    def send_signal(self, sig):
        self.process.send_signal(sig)

    def wait(self, timeout=10.0):
        """Waits for the program to end; returns its exit status (negative: signal)."""
        return self.process.wait(timeout)

    def stop(self, timeout=10.0):
        """SIGTERM, then SIGKILL if it has not ended by the deadline. Returns
        the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._stdout.close()
        return self.process.returncode

    def kill(self):
        self.process.kill()
        self.process.wait()
        self._stdout.close()

    def program_output(self):
        """What the program printed (stdout and stderr) so far."""
        try:
            with open(self._stdout_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def engine_steps(self):
        """The steps the engine took so far, in order (EngineStep)."""
        return [EngineStep(int(m[1]) * 1_000_000_000 + int(m[2]) * 1_000_000, int(m[3]), m[4] == "keyed")
                for m in _ENGINE_STEP.finditer(self.program_output())]

    def cpu_seconds(self):
        """User plus system CPU time the program has used, from /proc."""
        with open(f"/proc/{self.pid}/stat", encoding="ascii") as f:
            # The command name may hold spaces; the fields after it do not.
            fields = f.read().rsplit(")", 1)[1].split()
        utime, stime = int(fields[11]), int(fields[12])
        return (utime + stime) / os.sysconf("SC_CLK_TCK")

    def thread_names(self):
        """The names of the program's threads (/proc/<pid>/task/*/comm); a
        thread that ends while they are read is left out."""
        names = []
        task_dir = f"/proc/{self.pid}/task"
        for task in os.listdir(task_dir):
            try:
                with open(os.path.join(task_dir, task, "comm"), encoding="utf-8") as f:
                    names.append(f.read().rstrip("\n"))
            except FileNotFoundError:
                pass
        return names

    def _status(self, key):
        with open(f"/proc/{self.pid}/status", encoding="ascii") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return None

    def peak_memory_kib(self):
        """Peak resident memory (VmHWM) in KiB."""
        return self._status("VmHWM")

    def memory_kib(self):
        """Current resident memory (VmRSS) in KiB."""
        return self._status("VmRSS")

    # -- windows -----------------------------------------------------------

    def windows(self, name_regex="."):
        """Ids of the program's visible X windows whose title matches (an
        extended regular expression, matched without regard to case)."""
        result = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(self.pid),
                                 "--name", name_regex], capture_output=True, text=True)
        return [int(w) for w in result.stdout.split()]

    @staticmethod
    def window_title(window):
        result = subprocess.run(["xdotool", "getwindowname", str(window)], capture_output=True, text=True)
        return result.stdout.rstrip("\n")

    def message_boxes(self):
        """Ids of open message boxes (captioned with the program's title)."""
        return [w for w in self.windows("^" + re.escape("Zelvo-FootSwitch2") + "$")]
