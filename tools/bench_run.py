#!/usr/bin/env python3
"""Times one whole run of the program on a large registry (1,000 device-type keys, 3,000 interface
entries) and, on the same prefix and server, `wine reg query KEY /s` over the three keys the program reads.
Prints both figures and their ratio. Not a test.

  python3 tools/bench_run.py [BUILD_DIR]      (default build/win64; needs vestigia.exe built there)
"""

import os
import pathlib
import statistics
import sys
import time

root = pathlib.Path(__file__).resolve().parents[1]
if len(sys.argv) > 1:
    os.environ["VESTIGIA_BUILD"] = str(pathlib.Path(sys.argv[1]).resolve())
sys.path.insert(0, str(root / "tests" / "e2e"))
import harness  # noqa: E402

DEVICES, ENTRIES, REPEATS = 1000, 3000, 3


def fixture():
    keys = []
    for i in range(DEVICES):
        name = "Disk&Ven_Bench%04d&Prod_Stick&Rev_1.00" % i
        keys += harness.device(name, harness.utc(2020, 1, 1), "Bench Stick %d USB Device" % i, "Disk drive",
                               instance="%012d&0" % i)
    for j in range(ENTRIES):
        # Three entries per device: two disk instances and one CD-ROM entry; every tenth names a device
        # that has no type key, so the report has all three sections.
        i = j // 3
        name = "Disk&Ven_Bench%04d&Prod_Stick&Rev_1.00" % i if j % 10 else "Disk&Ven_Gone%04d&Prod_X&Rev_1" % j
        class_key, guid = (harness.CDROM, harness.CDROM_GUID) if j % 3 == 2 else (harness.DISK, harness.DISK_GUID)
        keys += harness.interface(class_key, harness.entry_name(name, "%012d&%d" % (i, j % 3), guid),
                                  harness.utc(2024, 1, 1))
    return keys


def main():
    reason = harness.tools_ready()
    if reason:
        sys.exit(reason)
    prefix = harness.Prefix("bench", fixture())
    runs, queries = [], []
    with prefix.server():
        for _ in range(REPEATS):
            result = prefix.run(timeout=600)
            if result.exit_code != 0 or len(result.created) != 1:
                sys.exit("run failed: exit %s, files %s" % (result.exit_code, result.created))
            size = len(result.files[result.created[0]])
            (prefix.desktop / result.created[0]).unlink()
            runs.append(result.seconds)
            start = time.monotonic()
            for key in (harness.USBSTOR, harness.DISK, harness.CDROM):
                if prefix.wine(["reg", "query", "HKLM\\" + key, "/s"], timeout=600) != 0:
                    sys.exit("reg query failed on " + key)
            queries.append(time.monotonic() - start)
    run, query = statistics.median(runs), statistics.median(queries)
    print("registry: %d device-type keys, %d interface entries; report %d bytes" % (DEVICES, ENTRIES, size))
    print("vestigia.exe whole run:           %.2f s (median of %d: %s)" % (run, REPEATS, ", ".join("%.2f" % r for r in runs)))
    print("wine reg query /s over the 3 keys: %.2f s (median of %d: %s)" % (query, REPEATS, ", ".join("%.2f" % q for q in queries)))
    print("ratio run / reg query:             %.2f" % (run / query))


if __name__ == "__main__":
    main()
