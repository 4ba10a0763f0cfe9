"""Command-line options shared by the end-to-end scripts."""

import argparse
import sys
import unittest


def add_program_arguments(parser):
    """--program (the zelvo-footswitch2 binary) and --modemlines
    (libzelvo_modemlines.so), both required."""
    parser.add_argument("--program", required=True, help="path of zelvo-footswitch2")
    parser.add_argument("--modemlines", required=True, help="path of libzelvo_modemlines.so")
    return parser


def run_tests(module):
    """Reads --program and --modemlines into module.OPTIONS and runs the
    module's tests; other arguments go to unittest (a test name, -k ...)."""
    parser = add_program_arguments(argparse.ArgumentParser(description=module.__doc__))
    module.OPTIONS, rest = parser.parse_known_args()
    unittest.main(module=module, argv=[sys.argv[0]] + rest, verbosity=2)


def has_failed(test):
    """Whether a running unittest.TestCase has failed so far; for a cleanup
    that shows what the program did. (Inside a cleanup the test's own
    outcome reads as a success: each cleanup is a part of its own.)"""
    outcome = getattr(test, "_outcome", None)
    if outcome is None:
        return False
    result = outcome.result
    return any(case is test for case, _ in result.failures + result.errors)
