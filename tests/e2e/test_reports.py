"""Exact reports for realistic registries: committed golden texts, compared byte for byte in code page 950
under UTC+8."""

import pathlib
import unittest

import fixtures
import harness

GOLDEN_DIR = pathlib.Path(__file__).with_name("golden")


def golden_bytes(name):
    text = (GOLDEN_DIR / (name + ".txt")).read_text(encoding="utf-8")
    return text.replace("\n", "\r\n").encode("cp950")


class GoldenReports(unittest.TestCase):
    def test_golden_reports(self):
        for name, build in fixtures.GOLDEN.items():
            with self.subTest(name):
                keys = build()
                # The model of the registry must agree with the committed text, or the golden is stale.
                self.assertEqual(harness.expected_report(keys).replace("\r\n", "\n"),
                                 (GOLDEN_DIR / (name + ".txt")).read_text(encoding="utf-8"))
                result = harness.Prefix("golden-" + name, keys).run()
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(len(result.created), 1, result.created)
                written = result.files[result.created[0]]
                self.assertEqual(written.decode("cp950", "replace"), golden_bytes(name).decode("cp950"))
                self.assertEqual(written, golden_bytes(name))


if __name__ == "__main__":
    unittest.main()
