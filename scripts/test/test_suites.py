"""scripts/suites.sh, which scripts/test.sh and scripts/test-clients.sh run their suites with: each
suite's counts as its runner reports them, its output only when it fails, and a closing total
whose exit status says whether everything passed."""

import os
import subprocess
import unittest
from pathlib import Path

SUITES = Path(__file__).resolve().parents[1] / "suites.sh"

# What a runner printed, its exit status, the format it is read in, and the suite's line.
CASES = [
    ("ctest", 0, "100% tests passed, 0 tests failed out of 272\n", "272 passed, 0 failed"),
    ("ctest", 8, "98% tests passed, 2 tests failed out of 100\n", "98 passed, 2 failed"),
    ("ctest", 0, "100% tests passed, 0 tests failed out of 5\nThe following tests did not run:\n"
     "\t  3 - Process.Linux (Skipped)\n\t  4 - Text.Grapheme (Skipped)\n",
     "3 passed, 0 failed, 2 skipped"),
    ("unittest", 0, "...\nRan 3 tests in 0.1s\n\nOK\n", "3 passed, 0 failed"),
    ("unittest", 0, "Ran 9 tests in 1s\n\nOK (skipped=2)\n", "7 passed, 0 failed, 2 skipped"),
    ("unittest", 1, "Ran 9 tests in 1s\n\nFAILED (failures=2, errors=1, skipped=1)\n",
     "5 passed, 3 failed, 1 skipped"),
    # Each failed subtest is a failure of its own.
    ("unittest", 1, "Ran 2 tests in 1s\n\nFAILED (failures=13)\n", "0 passed, 13 failed"),
    ("tap", 0, "# tests 87\n# pass 86\n# fail 0\n# skipped 1\n", "86 passed, 0 failed, 1 skipped"),
    ("tap", 1, "# tests 3\n# pass 2\n# fail 1\n", "2 passed, 1 failed"),
    ("check", 0, "all good\n", "1 passed, 0 failed"),
    ("check", 1, "broken\n", "0 passed, 1 failed"),
    # A runner that fails without counting a failure (it did not start) still fails the suite.
    ("unittest", 2, "ImportError: no module\n", "0 passed, 1 failed"),
    ("tap", 1, "", "0 passed, 1 failed"),
]


def run_suites(*suites):
    """Runs the suites, each (format, status, output), as scripts/test.sh does."""
    script = f"set -euo pipefail\nsource {SUITES}\n"
    for number, (form, status, output) in enumerate(suites):
        script += f"suite s{number} {form} sh -c 'printf %s \"$0\"; exit {status}' {quote(output)}\n"
    # On its own, not adding to the total of the scripts/test.sh that runs this test.
    env = {k: v for k, v in os.environ.items() if k != "CORVANE_TEST_TALLY"}
    return subprocess.run(["bash", "-c", script + "suites_total"], capture_output=True, text=True,
                          env=env)


def quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


class SuitesTest(unittest.TestCase):
    def test_each_runner_is_counted(self):
        for form, status, output, line in CASES:
            with self.subTest(form=form, output=output):
                done = run_suites((form, status, output))
                printed = done.stdout.splitlines()
                self.assertEqual(printed[-2:], [f"s0: {line}", f"total: {line}"], done)
                self.assertEqual(done.returncode, 0 if " 0 failed" in line else 1)
                # A passing suite's output is not shown; a failing one's is, above its line.
                shown = "\n".join(printed[:-2])
                if form != "check":
                    self.assertEqual(shown, output.rstrip("\n") if " 0 failed" not in line
                                     else "", done)

    def test_the_total_adds_every_suite_and_comes_last(self):
        done = run_suites(("ctest", 0, "100% tests passed, 0 tests failed out of 272\n"),
                          ("unittest", 0, "Ran 9 tests in 1s\n\nOK (skipped=2)\n"),
                          ("tap", 1, "# tests 3\n# pass 2\n# fail 1\n"))
        self.assertEqual(done.stdout.splitlines()[-1], "total: 281 passed, 1 failed, 2 skipped")
        self.assertEqual(done.returncode, 1)
