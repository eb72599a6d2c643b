#!/usr/bin/env python3
"""make_seeds.py FOLDER: writes into FOLDER (emptied first) the cases' reports as fuzz inputs, each a report
file's name, LF, then its bytes: every file that a merge case lays down, and every report that a program case
expects, in UTF-8 and in code page 1252 (the code pages that the native build reads)."""

import pathlib, shutil, sys, tempfile

TESTS = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(TESTS))
from run_merge import lay_down, snapshot  # noqa: E402


def main(folder):
    folder = pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    for case in sorted((TESTS / "merge_cases").iterdir()):
        if not (case / "files").is_file():
            continue
        with tempfile.TemporaryDirectory() as laid:
            lay_down(case, pathlib.Path(laid))
            for n, (path, data) in enumerate(sorted(snapshot(pathlib.Path(laid)).items())):
                (folder / ("merge_%s_%d" % (case.name, n))).write_bytes(path.name.encode() + b"\n" + data)
    for case in sorted((TESTS / "cases").iterdir()):
        if not (case / "expected.txt").is_file():
            continue
        text = (case / "expected.txt").read_bytes().decode("utf-8", "surrogateescape").replace("\n", "\r\n")
        for codec in ("utf-8", "cp1252"):
            report = text.encode(codec, "replace") if codec != "utf-8" else text.encode(codec, "surrogateescape")
            (folder / ("case_%s_%s" % (case.name, codec))).write_bytes(b"202601051200-user-PC.txt\n" + report)


if __name__ == "__main__":
    main(sys.argv[1])
