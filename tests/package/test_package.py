"""The Debian package on this machine: made from this build with CPack,
installed with apt, its program run without a window on pseudo-terminals,
then removed. Needs root; ends with status 77 (skipped) otherwise.

    tests/with-xserver.sh /usr/bin/python3 tests/package/test_package.py --cpack cpack \\
        --config build/CPackConfig.cmake --version 1.0.0 \\
        --modemlines build/tests/modemlines/libzelvo_modemlines.so
"""

import argparse
import fcntl
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from zelvo_e2e import FootswitchRig, ProgramTestCase  # noqa: E402

PACKAGE = "zelvo-footswitch2"
PROGRAM = "/usr/bin/zelvo-footswitch2"
UNIT = "/usr/lib/systemd/user/zelvo-footswitch2.service"
SHIPPED = [PROGRAM, UNIT, "/usr/share/applications/zelvo-footswitch2.desktop",
           "/usr/share/metainfo/org.example.zelvo_footswitch2.metainfo.xml",
           "/usr/share/man/man1/zelvo-footswitch2.1.gz", "/usr/share/icons/hicolor/scalable/apps/zelvo-footswitch2.svg",
           "/usr/share/icons/hicolor/48x48/apps/zelvo-footswitch2.png", "/usr/share/zelvo-footswitch2/help/index.html",
           "/usr/share/zelvo-footswitch2/ser2net/zelvo-remote.yaml"]
# What the program links, as the package must name it for apt to install it
# where nothing else brought it (a "t64" suffix or a new soname aside).
LINKED = ["libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6serialport6", "libqt6network6", "libhamlib",
          "libmosquitto1"]
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=120"]
OPTIONS = None


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True, timeout=300).stdout


def installed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Status}", PACKAGE], capture_output=True, text=True)
    return status.stdout == "installed"


class InstalledPackage(ProgramTestCase):
    def test_installs_keys_without_a_window_and_removes_every_file(self):
        folder = tempfile.mkdtemp(prefix="zelvo-package-")
        self.addCleanup(shutil.rmtree, folder)
        run(OPTIONS.cpack, "--config", OPTIONS.config, "-B", folder)
        deb = f"{folder}/{PACKAGE}_{OPTIONS.version}_{run('dpkg', '--print-architecture').strip()}.deb"
        depends = run("dpkg-deb", "-f", deb, "Depends")
        named = {re.split(r"[\s(]", alternative.strip())[0] for alternative in re.split(r"[,|]", depends)}
        self.assertEqual([library for library in LINKED if not any(name.startswith(library) for name in named)], [],
                         f"not in Depends: {depends!r}")
        run(*APT, "install", "--no-install-recommends", deb)
        self.addCleanup(lambda: installed() and run(*APT, "remove", PACKAGE))
        files = [path for path in run("dpkg-query", "-L", PACKAGE).splitlines() if os.path.isfile(path)]
        self.assertEqual([path for path in SHIPPED if path not in files], [], "not installed")
        with open(UNIT, encoding="utf-8") as unit:
            starts = [line for line in unit.read().splitlines() if line.startswith("ExecStart=")]
        self.assertEqual(starts, [f"ExecStart={PROGRAM} --no-window"])
        if shutil.which("appstreamcli"):
            run("appstreamcli", "validate", "--no-net", SHIPPED[3])
        self.assertEqual(run(PROGRAM, "--version"), f"zelvo-footswitch2 {OPTIONS.version}\n")

        self.rig = FootswitchRig(PROGRAM, OPTIONS.modemlines)
        self.addCleanup(self.rig.close)
        self.addCleanup(self._show_output_on_failure)
        self.rig.start("--no-window", display=False)
        self.rig.wait_until_open()
        self.rig.press()
        self.rig.wait_for_rts(self.rig.output, 1)
        self.assertEqual(self.rig.stop(), 0, "SIGTERM")
        self.assertEqual(self.rig.rts(self.rig.output), 0, "the relay left keyed")

        run(*APT, "remove", PACKAGE)
        self.assertFalse(installed())
        self.assertEqual([path for path in files if os.path.lexists(path)], [], "left behind")


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(77)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ("--cpack", "--config", "--version", "--modemlines"):
        parser.add_argument(option, required=True)
    OPTIONS, rest = parser.parse_known_args()
    if os.geteuid() != 0:
        skip("installing a package with apt needs root")
    # One at a time on this machine: apt installs for everyone.
    lock = open("/tmp/zelvo-footswitch2-package-test.lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    if installed():
        skip(f"{PACKAGE} is installed on this machine already; the test would replace and remove it")
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
