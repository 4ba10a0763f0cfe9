"""Programs a test starts beside the one under test: device servers and TLS
terminators listening on 127.0.0.1.

HelperProcess gives such a program a temporary folder of its own (for its
configuration), collects its standard output and error in a file there for
the failure report, and waits until it listens before the test goes on. A
subclass writes its configuration into the folder and calls _start():

    class Server(HelperProcess):
        def __init__(self):
            super().__init__("server")
            self.port = free_port()
            self._start(["server", "--port", str(self.port)])

end_process() and kill_process() stop any subprocess.Popen the same way.
"""

import os
import shutil
import signal
import subprocess
import tempfile

from .loopback import listening
from .polling import wait_until

def kill_process(process):
    """SIGKILL: the process and its connections vanish at once."""
    if process.poll() is None:
        process.send_signal(signal.SIGKILL)
    process.wait(10)


def end_process(process, ask_to_end, timeout=5.0):
    """Asks a running process to end (ask_to_end()) and kills it if it is
    still there after `timeout` seconds: a stuck helper must not hold up
    the tests after it."""
    if process.poll() is None:
        ask_to_end()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            kill_process(process)


class HelperProcess:
    """One helper program listening on 127.0.0.1:port.

    port, pid, running(), output(), kill(), close(); a context manager.
    """

    def __init__(self, name):
        self.name = name
        self.process = None
        self.port = None
        self._dir = tempfile.mkdtemp(prefix=f"zelvo-{name}-")
        self._output_path = self.path(f"{name}.out")
        self._output = open(self._output_path, "wb")

    def path(self, file_name):
        """A file in the helper's own temporary folder."""
        return os.path.join(self._dir, file_name)

    def _start(self, arguments, env=None):
        """Starts the program and waits until it listens on self.port; closes
        everything and raises if it ends or does not listen in time."""
        try:
            self.process = subprocess.Popen(arguments, env=env, stdin=subprocess.DEVNULL,
                                            stdout=self._output, stderr=subprocess.STDOUT)
            wait_until(lambda: listening(self.port) or self.process.poll() is not None, 10.0,
                       message=f"{self.name} listening on {self.port}")
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} ended at the start: {self.output()}")
        except BaseException:
            self.close()
            raise

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process is not None and self.process.poll() is None

    def output(self):
        """What the program printed so far."""
        try:
            with open(self._output_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def kill(self):
        kill_process(self.process)

    def close(self):
        """Stops the program (SIGTERM, SIGKILL if it lingers) and removes its folder."""
        if self.process is not None:
            end_process(self.process, self.process.terminate)
        self._output.close()
        shutil.rmtree(self._dir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
