"""The completion box under a real X server: it is shown, it blocks the run while the finished report is
already on disk, and Return ends the run. The failure box appears instead when the file cannot be made."""

import datetime
import unittest

import harness


class MessageBox(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display_cm = harness.xvfb()
        cls.display = cls.display_cm.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.display_cm.__exit__(None, None, None)

    def test_completion_box_blocks_until_return(self):
        prefix = harness.Prefix("box-done", [])
        shot = harness.WORK / "message_box.png"
        shot.unlink(missing_ok=True)
        result = prefix.run(display=self.display, screenshot=shot)
        self.assertEqual(result.box_caption, harness.CAPTION_DONE)
        self.assertTrue(result.blocked, "the run had ended while its box was still found on screen")
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(result.created), 1)
        # The report is complete and closed before the box appears.
        self.assertEqual(result.files_at_box, result.files)
        self.assertEqual(len(result.files[result.created[0]]), 59)
        self.assertTrue(shot.exists() and shot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n")

    def test_failure_box_when_the_file_cannot_be_created(self):
        prefix = harness.Prefix("box-failed", [])
        now = datetime.datetime.now(harness.zoneinfo.ZoneInfo("Asia/Taipei"))
        for minutes in range(3):
            (prefix.desktop / harness.report_name(now + datetime.timedelta(minutes=minutes))).mkdir()
        result = prefix.run(display=self.display, screenshot=harness.WORK / "message_box_failed.png")
        self.assertEqual(result.box_caption, harness.CAPTION_FAILED)
        self.assertTrue(result.blocked)
        self.assertEqual(result.exit_code, 2)
        self.assertEqual(result.files, {})


if __name__ == "__main__":
    unittest.main()
