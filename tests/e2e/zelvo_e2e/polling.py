"""Waiting for a result by polling it with a deadline (never a bare sleep)."""

import time


class Timeout(AssertionError):
    pass


def wait_until(predicate, timeout=5.0, interval=0.005, message="condition"):
    """Calls predicate() until it returns a true value, and returns that value.

    Raises Timeout (an AssertionError, so a unittest reports it as a failure)
    when the deadline passes first.
    """
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Timeout(f"timed out after {timeout} s waiting for {message}")
        time.sleep(interval)
