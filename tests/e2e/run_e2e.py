#!/usr/bin/env python3
"""Runs the end-to-end scenarios (tests/e2e/test_*.py) in one Wine session.

Usage: run_e2e.py BUILD_DIR [--windows 64|32|64+32] [--only PATTERN] [--keep-prefix]
                  [--lang LANG]

BUILD_DIR is a Windows build with e2e-helpers/ and lexoria-update.exe:
build/win32, the i686 deliverable with i686 helpers, or build/win64, the
x86_64 fallback for machines whose kernel runs no 32-bit programs. --windows
names the Windows kinds to run on, each in a Wine prefix of its own: 64 (a
64-bit prefix; the i686 deliverable runs there under WOW64, as on 64-bit
Windows) runs every scenario; 32 (a WINEARCH=win32 prefix, 32-bit Windows)
runs the scenarios marked harness.on_32bit_windows_too, where the bitness of
Windows changes the setup's path; 64+32 runs both, one after the other.
PATTERN selects tests whose id (module.Class.test_name) contains it or
matches it as a shell pattern. --keep-prefix reuses the prefix of an earlier
run made by the same Wine instead of creating a new one (for quick local
rounds; a test run from scratch does not use it). The last line printed is
"e2e (WHAT RAN): N passed, N failed; harness self-tests: M passed, M failed"
(with ", N skipped" after the first pair when some were skipped): the
product's scenarios first, then the checks of the machinery itself
(test_harness_selftest.py); WHAT RAN names the binary and the Windows kinds.
The exit code is 0 only when nothing failed and something ran.
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


def _marked_for_32bit_windows(test):
    method = getattr(test, getattr(test, "_testMethodName", ""), None)
    return bool(getattr(method, "lexoria_32bit_windows", False)
                or getattr(type(test), "lexoria_32bit_windows", False))


def collect(pattern, windows_bits=64):
    loader = unittest.TestLoader()
    tests = []
    for path in sorted(HERE.glob("test_*.py")):
        module = importlib.import_module(path.stem)
        for test in _tests_of(loader.loadTestsFromModule(module)):
            test_id = test.id()
            if pattern and pattern not in test_id and not fnmatch.fnmatch(test_id, pattern):
                continue
            if windows_bits == 32 and not _marked_for_32bit_windows(test):
                continue
            tests.append(test)
    return tests


# The checks of the machinery itself (the robot, the stand-in, the registry
# helpers, Wine's own behaviour the harness relies on): counted apart from
# the product's scenarios.
SELF_TEST_MODULES = ("test_harness_selftest",)


def is_self_test(test):
    return test.id().split(".")[0] in SELF_TEST_MODULES


class Result(unittest.TestResult):
    """Prints one line per test as it ends and keeps the counts, the product's
    scenarios and the harness's self-tests apart."""

    def __init__(self):
        super().__init__()
        self.passed = {"product": 0, "self": 0}
        self.failed = {"product": 0, "self": 0}
        self.skipped_count = 0
        self._failed_ids = set()
        self._began = 0.0
        self.suffix = ""  # names the Windows kind of the session in each line

    @staticmethod
    def _kind(test):
        return "self" if is_self_test(test) else "product"

    def machinery_failed(self):
        """The machinery failed before or between tests: the run is not sound."""
        self.failed["product"] += 1

    def startTest(self, test):
        super().startTest(test)
        self._began = time.monotonic()

    def _line(self, word, test, extra=""):
        print("%-5s %s%s (%.1f s)%s" % (word, test.id(), self.suffix,
                                          time.monotonic() - self._began, extra), flush=True)

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed[self._kind(test)] += 1
        self._line("ok", test)

    def _fail(self, test, word, report):
        if test.id() + self.suffix not in self._failed_ids:
            self._failed_ids.add(test.id() + self.suffix)
            self.failed[self._kind(test)] += 1
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
        self.passed[self._kind(test)] += 1
        self._line("ok", test, " (expected failure)")

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.failed[self._kind(test)] += 1
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
    parser.add_argument("--windows", choices=["64", "32", "64+32"], default="64")
    parser.add_argument("--only", default=None)
    parser.add_argument("--keep-prefix", action="store_true")
    parser.add_argument("--lang", default=harness.RU)
    options = parser.parse_args()

    os.environ["LEXORIA_E2E_BUILD_DIR"] = str(pathlib.Path(options.build_dir).resolve())
    kinds = [int(bits) for bits in options.windows.split("+")]
    result = Result()
    began = time.monotonic()
    binary = "the build in " + options.build_dir
    ran_on = []
    for windows_bits in kinds:
        tests = collect(options.only, windows_bits)
        if not tests:
            print("e2e: no test matched for %d-bit Windows" % windows_bits, flush=True)
            continue
        result.suffix = "" if windows_bits == 64 else " [32-bit Windows]"
        try:
            session = harness.open_session(
                options.build_dir, keep_prefix=options.keep_prefix, default_lang=options.lang,
                windows_bits=windows_bits,
                log=lambda message: print("e2e: " + message, flush=True))
            binary = session.kind.split(" on ")[0]
            ran_on.append("%d-bit" % windows_bits)
            print("e2e: %s: %d test(s); Xvfb %.1f s, prefix %.1f s" % (
                session.kind, len(tests), session.timings.get("xvfb", 0),
                session.timings.get("prefix", 0)), flush=True)
            unittest.TestSuite(tests).run(result)
        except Exception:  # the machinery failed before or between tests
            traceback.print_exc()
            result.machinery_failed()
        except KeyboardInterrupt as interrupt:
            print("e2e: interrupted (%s)" % interrupt, flush=True)
            result.machinery_failed()
            break
        finally:
            harness.close_session()
    print("e2e: %d test(s) in %.1f s" % (result.testsRun, time.monotonic() - began))
    if binary == "x86_64 build" and os.environ.get("LEXORIA_E2E_NO_32BIT") == "1":
        where = "32-bit runs turned off by LEXORIA_E2E_NO_32BIT"
    elif binary == "x86_64 build" and not harness.runs_32bit_linux_programs():
        where = "this kernel runs no 32-bit programs"
    elif binary == "x86_64 build" and not os.access("/usr/lib/wine/wine", os.X_OK):
        where = "no 32-bit Wine installed"
    else:
        where = " and ".join(ran_on) + " Windows" if ran_on else "nothing ran"
    summary = "e2e (%s; %s): %d passed, %d failed" % (
        binary, where, result.passed["product"], result.failed["product"])
    if result.skipped_count:
        summary += ", %d skipped" % result.skipped_count
    summary += "; harness self-tests: %d passed, %d failed" % (
        result.passed["self"], result.failed["self"])
    print(summary, flush=True)
    failed = result.failed["product"] + result.failed["self"]
    return 0 if failed == 0 and result.testsRun > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
