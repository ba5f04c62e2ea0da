"""The ctest labels of the build in build/ (tests/tests.cmake), which the presets and CI choose tests
by: every test has a kind, the process rows carry what their columns imply, and ThreadSanitizer's
selection (the tsan test preset's filter) holds the threaded tests and none it cannot run."""

import json
import re
import subprocess
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
KINDS = {"unit", "process", "check", "swift", "fuzz"}


def tests():
    """Each test of build/ as (name, labels)."""
    listed = subprocess.run(["ctest", "--test-dir", str(BUILD), "--show-only=json-v1"],
                            check=True, capture_output=True, text=True).stdout
    found = []
    for test in json.loads(listed)["tests"]:
        labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
        found.append((test["name"], set(labels)))
    return found


def tsan_filter():
    preset = next(p for p in json.loads((ROOT / "CMakePresets.json").read_text())["testPresets"]
                  if p["name"] == "tsan")
    return preset["filter"]["include"]["label"], preset["filter"]["exclude"]["label"]


@unittest.skipUnless((BUILD / "corvane_process_tests").exists(),
                     "needs the dev preset's build in build/ (scripts/test.sh makes it)")
class LabelsTest(unittest.TestCase):
    def test_every_test_has_a_kind_and_rows_carry_their_columns_labels(self):
        rows = json.loads((ROOT / "tests/data/process_cases.json").read_text())
        all_tests = tests()
        self.assertTrue(all_tests)
        for name, labels in all_tests:
            with self.subTest(name):
                self.assertTrue(labels & KINDS, f"labels {sorted(labels)}")
                if labels & {"needs-linux", "tsan-unsafe", "large"}:
                    self.assertIn("process", labels)
        process = [labels for _, labels in all_tests if "process" in labels]
        # Each row runs on at least one executable, so each label a row implies is seen at least
        # as often as there are rows implying it.
        for column, label in (("linuxOnly", "needs-linux"), ("fileSizeLimit", "tsan-unsafe")):
            with self.subTest(column):
                rows_with = sum(column in row for row in rows)
                self.assertGreaterEqual(sum(label in labels for labels in process), rows_with)
        named = sum("large" in row.get("labels", []) for row in rows)
        self.assertGreaterEqual(sum("large" in labels for labels in process), named)

    def test_thread_sanitizer_runs_threaded_tests_it_can_run(self):
        include, exclude = tsan_filter()
        chosen = [labels for _, labels in tests()
                  if any(re.search(include, label) for label in labels)
                  and not any(re.search(exclude, label) for label in labels)]
        self.assertTrue(any("unit" in labels for labels in chosen), "no threaded unit test")
        self.assertTrue(any("process" in labels for labels in chosen), "no process test")
        for labels in chosen:
            self.assertFalse(labels & {"tsan-unsafe", "large"})


if __name__ == "__main__":
    unittest.main()
