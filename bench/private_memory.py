"""The program's private dirty memory, with and without a radio by CAT,
against a bare Qt window (a QMainWindow and nothing else, built here with
the same Qt). Private dirty pages are what each copy of a program costs on
its own; shared libraries' clean pages are not counted.

Run it under a private X server, after building:
    tests/with-xserver.sh /usr/bin/python3 bench/private_memory.py
"""

import os
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(BENCH)
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from zelvo_e2e import FootswitchRig  # noqa: E402
from zelvo_e2e.rigctld import Rigctld  # noqa: E402

PROGRAM = os.path.join(TOP, "build", "zelvo-footswitch2")
MODEMLINES = os.path.join(TOP, "build", "tests", "modemlines", "libzelvo_modemlines.so")
SETTLE_S = 3.0

BARE = r"""
#include <QApplication>
#include <QMainWindow>
int main(int argc, char **argv) { QApplication app(argc, argv); QMainWindow w; w.show(); return app.exec(); }
"""


def private_dirty_kib(pid):
    with open(f"/proc/{pid}/smaps_rollup", encoding="ascii") as f:
        return sum(int(line.split()[1]) for line in f if line.startswith("Private_Dirty:"))


def bare_window_kib(folder):
    source = os.path.join(folder, "bare.cpp")
    with open(source, "w", encoding="ascii") as f:
        f.write(BARE)
    flags = subprocess.check_output(["pkg-config", "--cflags", "--libs", "Qt6Widgets"], text=True).split()
    subprocess.check_call(["g++", "-O2", "-fPIC", source, "-o", os.path.join(folder, "bare")] + flags)
    process = subprocess.Popen([os.path.join(folder, "bare")])
    try:
        time.sleep(SETTLE_S)  # the window's first paint, as for the program
        return private_dirty_kib(process.pid)
    finally:
        process.kill()
        process.wait()


def program_kib(radio):
    with FootswitchRig(PROGRAM, MODEMLINES) as rig:
        if radio:
            rigctld = Rigctld()
            rig.write_settings({"Output2-Kind": "CAT", "Output2-Rig-Model": 2,
                                "Output2-Rig-Port": f"127.0.0.1:{rigctld.port}"}, group="Sequence")
        rig.start()
        rig.wait_until_open()
        time.sleep(SETTLE_S)
        kib = private_dirty_kib(rig.pid)
        if radio:
            rigctld.close()
        return kib


def main():
    with tempfile.TemporaryDirectory() as folder:
        bare = bare_window_kib(folder)
    without = program_kib(radio=False)
    with_radio = program_kib(radio=True)
    print(f"private dirty memory, KiB: bare Qt window {bare}; program without a radio {without} "
          f"({without / bare:.2f}x); with a radio by CAT through rigctld {with_radio} ({with_radio / bare:.2f}x)")


if __name__ == "__main__":
    main()
