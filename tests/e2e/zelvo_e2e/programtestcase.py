"""The base of the end-to-end test cases that run the program in self.rig."""

import sys
import unittest


class ProgramTestCase(unittest.TestCase):
    """Shows what the program printed when a test fails, with the further
    sections failure_report() gives (ser2net's output, a peer's lines, the
    modem-line log). A test adds self._show_output_on_failure as a cleanup
    after the rig's close: cleanups run last first, so it reports while the
    rig's files are still there.
    """

    def failure_report(self):
        """[(title, text), ...] printed after the program's output."""
        return []

    def _failed(self):
        # unittest records a failure or error in the result before the
        # cleanups run (a failed subTest under its own test object, whose
        # test_case is this one). _outcome.success cannot tell: every
        # cleanup runs as a part of its own that starts out successful.
        result = getattr(getattr(self, "_outcome", None), "result", None)
        return result is not None and any(getattr(test, "test_case", test) is self
                                          for test, _ in result.errors + result.failures)

    def _show_output_on_failure(self):
        if self._failed():
            sections = [("program output", self.rig.program_output()), *self.failure_report()]
            sys.stderr.write("".join(f"--- {title} ---\n{text}\n" for title, text in sections))
