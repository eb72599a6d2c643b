"""Runs on a registry without USB storage history: the file's name, place, code page and replacement.
(A file that cannot be created: test_message_box.)"""

import datetime
import re
import time
import unittest

import harness

EMPTY_REPORT = harness.HEADER + harness.HEADER2


def minutes_between(start, end):
    """Every YYYYMMDDhhmm that the local clock showed from `start` to `end`."""
    moment = start.replace(second=0, microsecond=0)
    while moment <= end:
        yield moment.strftime("%Y%m%d%H%M")
        moment += datetime.timedelta(minutes=1)


class EmptyRegistry(unittest.TestCase):
    def test_headers_only_in_each_code_page(self):
        name_pattern = re.compile(r"^(\d{12})-%s-%s\.txt$" % (re.escape(harness.user_name()),
                                                                re.escape(harness.computer_name())))
        cases = [
            # code page 950: both headers, 59 bytes
            ("zh_TW.UTF-8", EMPTY_REPORT.encode("cp950")),
            # code page 1252: every Chinese character becomes the default character, one byte each
            ("C", EMPTY_REPORT.encode("cp1252", "replace")),
        ]
        for lc_all, expected in cases:
            with self.subTest(lc_all):
                result = harness.Prefix("empty-" + lc_all, []).run(lc_all=lc_all)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(len(result.created), 1, result.created)
                self.assertEqual(list(result.files), result.created)
                name = result.created[0]
                match = name_pattern.match(name)
                self.assertIsNotNone(match, name)
                self.assertIn(match.group(1), list(minutes_between(result.started, result.ended)))
                self.assertEqual(result.files[name], expected)
        self.assertEqual(len(cases[0][1]), 59)
        self.assertEqual(cases[0][1][:4], bytes.fromhex("a5bbbef7"))
        self.assertEqual(cases[0][1][-5:], bytes.fromhex("3a0d0a0d0a"))
        self.assertEqual(len(cases[1][1]), 37)

    def test_second_run_in_the_same_minute_replaces_the_file(self):
        prefix = harness.Prefix("same-minute", [])
        for attempt in range(2):
            second = datetime.datetime.now().second
            if second > 40:  # both runs must fit in this minute
                time.sleep(61 - second)
            # The longer report first: a replacement that did not truncate would leave its tail behind.
            first = prefix.run(lc_all="zh_TW.UTF-8")
            second = prefix.run(lc_all="C")
            if first.created == list(second.files):
                break
            for leftover in prefix.desktop.iterdir():
                leftover.unlink()
        self.assertEqual((first.exit_code, second.exit_code), (0, 0))
        self.assertEqual(len(first.created), 1)
        self.assertEqual(second.created, [], "the second run made a new file instead of replacing")
        self.assertEqual(list(second.files), first.created)
        self.assertEqual(second.files[first.created[0]], EMPTY_REPORT.encode("cp1252", "replace"))


if __name__ == "__main__":
    unittest.main()
