"""A run changes nothing in the registry: every key under HKLM and HKCU, with its last-write time, and every
value compare equal before and after.

The snapshots are taken inside one Wine server's lifetime by a helper that walks the whole registry. The
files that Wine saves when its server ends cannot serve: Wine's own start-up (device drivers, wineboot's
version keys, the font cache) rewrites keys and their times on every server start, so two saved files of
the same prefix differ even when nothing but an empty program ran. The first use of user32 in a server's
life also writes (the graphics driver's state under Control\Video), so the helper uses user32 itself and
its first snapshot only warms up. Two more snapshots before the run check that the registry is quiet, so
any difference after the run is the run's."""

import unittest

import fixtures
import harness


class ReadOnly(unittest.TestCase):
    def test_run_leaves_the_registry_as_it_was(self):
        prefix = harness.Prefix("read-only", fixtures.three_sections())
        work = harness.fresh_work_dir("read-only-dumps")

        def snapshot(name):
            path = work / name
            self.assertEqual(prefix.wine([harness.REG_TOOL, "dump", prefix.win_path(path)], timeout=120), 0)
            return path.read_bytes().decode("utf-16-le").splitlines()

        with prefix.server():
            snapshot("warm-up.txt")
            first = snapshot("before-1.txt")
            before = snapshot("before-2.txt")
            self.assertEqual(first, before, "the registry changes on its own; the comparison would mean nothing")
            self.assertTrue(any("USBSTOR\\" + fixtures.KINGSTON in line for line in before))
            result = prefix.run()
            after = snapshot("after.txt")
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(len(result.created), 1)
        self.assertEqual(before, after, "the run changed the registry")


if __name__ == "__main__":
    unittest.main()
