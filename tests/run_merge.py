#!/usr/bin/env python3
"""run_merge.py EXE CASE WORK: runs the report merger EXE on the merger's case CASE in WORK under Wine and
checks all it printed and wrote (tests/merge_cases/README.md says what a case holds)."""

import os, pathlib, re, shutil, subprocess, sys
from urllib.parse import unquote
from run_case import RUN, TOOLS, read_options, wine_env
from page_facts import check_page
from workbook_facts import check_workbook

PROGRAM_CASES = pathlib.Path(__file__).resolve().parent / "cases"


def lay_down(case, folder):
    """Lays down in FOLDER the files that CASE/files names, as tests/merge_cases/README.md describes."""
    for line in (case / "files").read_text("utf-8").splitlines():
        path, source, *rest = line.split()
        target = folder / path
        target.parent.mkdir(parents=True, exist_ok=True)
        if source == "full":
            target.symlink_to("/dev/full")
        elif source.startswith("link:"):
            os.link(folder / source[5:], target)
        elif source.startswith("case:"):
            lines = (PROGRAM_CASES / source[5:] / "expected.txt").read_text("utf-8").split("\n")
            lines = lines[:int(rest[1])] + [""] if len(rest) > 1 else lines
            target.write_bytes("\r\n".join(lines).encode(rest[0] if rest else "cp950", "replace"))
        else:
            shutil.copy(case / source, target)


def snapshot(folder):
    return {p: p.read_bytes() for p in folder.rglob("*") if p.is_file() and not p.is_symlink()}


def main(exe, case, work):
    options = read_options(case)
    shutil.rmtree(work, ignore_errors=True)
    subprocess.run([TOOLS / "wine-prefix.sh", "copy", os.environ["VESTIGIA_PRISTINE"], work / "prefix"], check=True)
    failures, written = [], set()
    for number, args in enumerate(options["args"].split("|")):
        failures += run(exe, case, work, work / ("run%d" % number), options, [unquote(a) for a in args.split(",")],
                        written)
    if len(written) > 1:
        failures.append("the argument lists gave different tables, pages or workbooks")
    print("\n".join(failures) or "%s: passed" % case.name)
    return 1 if failures else 0


def run(exe, case, work, folder, options, args, written):
    failures = []
    lay_down(case, folder)
    planted = options["plant"].split(",") if "plant" in options else []  # beside a copy of the merger
    exe = pathlib.Path(shutil.copy(exe, folder)) if planted else exe
    for name in planted:
        shutil.copy(os.environ["VESTIGIA_MARKER"], folder / name)
    before = snapshot(folder)
    codepage = options.get("codepage", RUN["RUN_CODEPAGE"])
    env = wine_env(work / "prefix", TZ=RUN["RUN_TIMEZONE"], VESTIGIA_CODEPAGE=codepage)
    run = subprocess.run([TOOLS / "wine-run.sh", exe, *args], cwd=folder, env=env,
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
    failures += ["a planted DLL was loaded: %s" % p.name for p in folder.glob("*.loaded")]
    if run.returncode != int(options.get("exit", "0")):
        failures.append("exit code %d, expected %s" % (run.returncode, options.get("exit", "0")))
    outputs = sorted(folder.glob(options["output"]))
    pages = [] if options.get("page") == "-" else sorted(folder.glob(options.get("page", "merged.html")))
    books = [] if "-" in (options.get("page"), options.get("book")) else sorted(
        folder.glob(options.get("book", re.sub(r"\.csv$", ".xlsx", options["output"]))))
    shown = [str(f[0].relative_to(folder)).replace("/", "\\") if f else "?" for f in (outputs, pages, books)]
    said = run.stdout.decode("cp" + codepage, "replace").replace("\r\n", "\n")
    summary = (case / "summary.txt").read_text("utf-8")
    if said != summary.replace("{output}", shown[0]).replace("{page}", shown[1]).replace("{book}", shown[2]):
        failures.append("it printed:\n" + said)
    expected = None
    if (case / "expected.csv").exists():
        expected = b"\xef\xbb\xbf" + (case / "expected.csv").read_bytes().replace(b"\n", b"\r\n")
        if len(outputs) != 1 or outputs[0].read_bytes() != expected:
            failures.append("the table differs from expected.csv; see %s" % (outputs or ["(none written)"])[0])
        if not books and "-" not in (options.get("page"), options.get("book")):
            failures.append("no workbook was written")
    elif not (case / "page.txt").exists() and snapshot(folder) != before:
        failures.append("files changed although no table was to be written")
    if options.get("page") == "-":
        failures += ["a page was written: %s" % p for p in folder.rglob("*.html")]
    elif (case / "page.txt").exists() and len(pages) != 1:
        failures.append("not one page where one was expected: %s" % pages)
    if not books:
        failures += ["a workbook was written: %s" % p for p in folder.rglob("*.xlsx")]
    for book in books:
        failures += check_workbook(book, expected, work)
    for page in pages:
        failures += check_page(page, case / "page.txt")
        written.add((outputs[0].read_bytes() if outputs else b"", page.read_bytes(),
                     books[0].read_bytes() if books else b""))
    # A partial file that the case laid down is an input; Wine cannot remove a link to /dev/full.
    if any(not p.is_symlink() and p not in before for p in folder.rglob("*.partial")):
        failures.append("a partial table or page was left behind")
    return failures


if __name__ == "__main__":
    sys.exit(main(*(pathlib.Path(arg).resolve() for arg in sys.argv[1:])))
