#!/usr/bin/env python3
"""Runs the end-to-end scenarios (tests/e2e/test_*.py) in one Wine session.

Usage: run_e2e.py BUILD_DIR [--only PATTERN] [--keep-prefix] [--lang LANG]

BUILD_DIR is the win64 build (with e2e-helpers/ and lexoria-update.exe).
PATTERN selects tests whose id (module.Class.test_name) contains it or
matches it as a shell pattern. --keep-prefix reuses the prefix of an earlier
run made by the same Wine instead of creating a new one (for quick local
rounds; a test run from scratch does not use it). The last line printed is
"N passed, N failed" (with ", N skipped" when some were skipped); the exit
code is 0 only when nothing failed and something ran.
"""

import argparse
import fnmatch
import importlib
import os
import pathlib
import sys
import time
import traceback
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import harness  # noqa: E402


def _tests_of(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from _tests_of(item)
        else:
            yield item


def collect(pattern):
    loader = unittest.TestLoader()
    tests = []
    for path in sorted(HERE.glob("test_*.py")):
        module = importlib.import_module(path.stem)
        for test in _tests_of(loader.loadTestsFromModule(module)):
            test_id = test.id()
            if pattern and pattern not in test_id and not fnmatch.fnmatch(test_id, pattern):
                continue
            tests.append(test)
    return tests


class Result(unittest.TestResult):
    """Prints one line per test as it ends and keeps the counts."""

    def __init__(self):
        super().__init__()
        self.passed = 0
        self.skipped_count = 0
        self.failed = 0
        self._failed_ids = set()
        self._began = 0.0

    def startTest(self, test):
        super().startTest(test)
        self._began = time.monotonic()

    def _line(self, word, test, extra=""):
        print("%-5s %s (%.1f s)%s" % (word, test.id(), time.monotonic() - self._began, extra),
              flush=True)

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1
        self._line("ok", test)

    def _fail(self, test, word, report):
        if test.id() not in self._failed_ids:
            self._failed_ids.add(test.id())
            self.failed += 1
        self._line(word, test)
        print(report, flush=True)

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._fail(test, "FAIL", self.failures[-1][1])

    def addError(self, test, err):
        super().addError(test, err)
        self._fail(test, "ERROR", self.errors[-1][1])

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.skipped_count += 1
        self._line("skip", test, ": " + reason)

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.passed += 1
        self._line("ok", test, " (expected failure)")

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.failed += 1
        self._line("FAIL", test, ": unexpected success")

    def addSubTest(self, test, subtest, err):
        # A failing subtest is the test's only report: unittest then calls
        # neither addSuccess nor addFailure for the test itself.
        super().addSubTest(test, subtest, err)
        if err is not None:
            bucket = self.failures if issubclass(err[0], test.failureException) else self.errors
            report = bucket[-1][1]
            self._fail(test, "FAIL", "%s\n%s" % (subtest.id(), report))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir")
    parser.add_argument("--only", default=None)
    parser.add_argument("--keep-prefix", action="store_true")
    parser.add_argument("--lang", default=harness.RU)
    options = parser.parse_args()

    os.environ["LEXORIA_E2E_BUILD_DIR"] = str(pathlib.Path(options.build_dir).resolve())
    tests = collect(options.only)
    result = Result()
    began = time.monotonic()
    try:
        if tests:
            session = harness.open_session(
                options.build_dir, keep_prefix=options.keep_prefix, default_lang=options.lang,
                log=lambda message: print("e2e: " + message, flush=True))
            print("e2e: Xvfb %.1f s, prefix %.1f s" % (
                session.timings.get("xvfb", 0), session.timings.get("prefix", 0)), flush=True)
            suite = unittest.TestSuite(tests)
            suite.run(result)
        else:
            print("e2e: no test matched", flush=True)
    except Exception:  # the machinery failed before or between tests
        traceback.print_exc()
        result.failed += 1
    except KeyboardInterrupt as interrupt:
        print("e2e: interrupted (%s)" % interrupt, flush=True)
        result.failed += 1
    finally:
        harness.close_session()
    print("e2e: %d test(s) in %.1f s" % (result.testsRun, time.monotonic() - began))
    summary = "%d passed, %d failed" % (result.passed, result.failed)
    if result.skipped_count:
        summary += ", %d skipped" % result.skipped_count
    print(summary, flush=True)
    return 0 if result.failed == 0 and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
