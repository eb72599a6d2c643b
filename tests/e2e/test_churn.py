"""Runs while another process keeps adding and removing device-type keys and interface entries: every run
ends normally with one complete report whose records are all whole."""

import contextlib
import time
import unittest

import fixtures
import harness

RUNS = 50
STABLE_DEVICES = {fixtures.KINGSTON, fixtures.SANDISK}
STABLE_ORPHANS = {"Disk&Ven_Removed&Prod_Old_Stick&Rev_0.01"}
CHURN_PREFIX = "Disk&Ven_Churn&Prod_Stick_"


def stable_fixture():
    keys = harness.device(fixtures.KINGSTON, harness.utc(2019, 3, 7, 6, 5, 9), "Kingston DataTraveler 3.0 USB Device",
                          "磁碟機", instance="60A44C413A8CF3B0B9630D2B&0")
    keys += harness.device(fixtures.SANDISK, harness.utc(2020, 12, 31, 16), "SanDisk Cruzer Blade USB Device", "Disk drive")
    keys += harness.interface(harness.DISK, harness.entry_name(fixtures.KINGSTON, "60A44C413A8CF3B0B9630D2B&0"),
                              harness.utc(2024, 4, 4, 4, 4, 4))
    keys += harness.interface(harness.CDROM, harness.entry_name("Disk&Ven_Removed&Prod_Old_Stick&Rev_0.01", "1&0",
                                                                harness.CDROM_GUID), harness.utc(2014, 2, 28, 23))
    return keys


@contextlib.contextmanager
def registry_writer(prefix, work):
    """The helper that churns the prefix's registry until the block ends; yields the process."""
    stop = work / "stop"
    with open(work / "helper.out", "wb") as out:
        helper = prefix.start([harness.REG_TOOL, "churn", prefix.win_path(stop), "240"], stdout=out)
        try:
            yield helper
        finally:
            stop.touch()
            try:
                helper.wait(timeout=60)
            except Exception:
                harness._kill_group(helper)


class Churn(unittest.TestCase):
    def check_names(self, report):
        """Every record names a stable device or a churned one, and nothing else."""
        for name in [r[0] for r in report.linked + report.unlinked]:
            self.assertTrue(name in STABLE_DEVICES or name.startswith(CHURN_PREFIX) or name == "", name)
        for name, _ in report.orphans:
            # A device whose type key the scan stepped over (indexes shift as keys go) leaves its entry
            # unmatched, so stable device names may show up here as well.
            self.assertTrue(name in STABLE_ORPHANS | STABLE_DEVICES or name.startswith(CHURN_PREFIX), name)

    def test_runs_beside_a_registry_writer(self):
        prefix = harness.Prefix("churn", stable_fixture())
        work = harness.fresh_work_dir("churn-work")
        churn_seen = 0
        with prefix.server(), registry_writer(prefix, work) as helper:
            time.sleep(1.0)
            self.assertIsNone(helper.poll(), "the registry writer did not keep running")
            for run in range(RUNS):
                with self.subTest(run=run):
                    result = prefix.run(timeout=60)
                    self.assertEqual(result.exit_code, 0)
                    self.assertEqual(len(result.created), 1, result.created)
                    report = harness.parse_report(result.files[result.created[0]].decode("cp950"))
                    self.check_names(report)
                    churn_seen += any(r[0].startswith(CHURN_PREFIX) for r in report.linked + report.unlinked)
                for made in result.created:
                    (prefix.desktop / made).unlink()
            self.assertIsNone(helper.poll(), "the registry writer stopped before the runs ended")
        rounds = int((work / "helper.out").read_text().strip() or 0)
        self.assertGreater(rounds, RUNS, "the registry hardly changed during the runs")
        self.assertGreater(churn_seen, RUNS // 2, "the runs hardly saw the changing keys")


if __name__ == "__main__":
    unittest.main()
