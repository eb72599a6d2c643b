"""The workbook as a real spreadsheet reads it: headless LibreOffice Calc converts it to CSV, each cell as
shown, and to flat OpenDocument XML, which says each cell's type and a time's instant. Its container and
parts are checked with Python's zipfile and XML parser, and its frozen header in the sheet's own XML, which
a conversion does not keep."""

import csv, datetime, io, pathlib, re, shutil, subprocess, tempfile, zipfile
import xml.dom.minidom, xml.etree.ElementTree as ET

SHEET = "USB 裝置記錄"
TIME_COLUMNS = {2, 10, 11}  # 報告時間, 首次使用, 最後使用
FORMULA_STARTS = "=+-@\t\r"  # the CSV writes these after an apostrophe; the workbook's text has none
PARTS = {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/styles.xml",
         "xl/worksheets/sheet1.xml"}
NS = {"table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
      "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
      "style": "urn:oasis:names:tc:opendocument:xmlns:style:1.0",
      "fo": "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0",
      "main": "http://schemas.openxmlformats.org/spreadsheetml/2006/main"}


def convert(book, filter_name, out):
    """One conversion, with a fresh profile and a time limit; the converted file's path, or None."""
    profile = tempfile.mkdtemp()
    try:
        subprocess.run(["timeout", "120", "soffice", "-env:UserInstallation=" + pathlib.Path(profile).as_uri(),
                        "--headless", "--convert-to", filter_name, "--outdir", str(out), str(book)],
                       capture_output=True, timeout=150)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    converted = out / (book.stem + "." + filter_name.split(":")[0])
    return converted if converted.exists() else None


def spreadsheet_time(text):
    """The instant ("YYYY-MM-DDThh:mm:ss") that a table time must be as a date cell, or None where it must
    stay text: a spreadsheet holds days from 1900-03-01 (before it, they count differently) to 9999-12-31."""
    m = re.fullmatch(r"(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d)(?::(\d\d))?", text)
    if not m or not "1900-03-01" <= text[:10] <= "9999-12-31":
        return None
    return "%s-%s-%sT%s:%s:%s" % (*m.groups()[:5], m.group(6) or "00")


def instant(date_value):
    """An ODF date value to the second ("2024-01-02", "2024-01-02T03:04:05.000001" as written)."""
    if date_value is None:
        return None
    day, _, time = date_value.partition("T")
    moment = datetime.datetime.fromisoformat(day + "T" + (time or "00:00:00"))
    return (moment + datetime.timedelta(microseconds=500000)).replace(microsecond=0).isoformat()


def ods_rows(fods, count):
    """The first `count` rows of the first sheet, as lists of 13 (type, date value, style name) cells, and the
    names of all sheets."""
    root = ET.parse(fods).getroot()
    tables = root.findall(".//table:table", NS)
    rows = []
    for row in tables[0].iter("{%s}table-row" % NS["table"]):
        cells = []
        for cell in row:
            if cell.tag.endswith("table-cell") or cell.tag.endswith("covered-table-cell"):
                repeat = int(cell.get("{%s}number-columns-repeated" % NS["table"], "1"))
                cells += [(cell.get("{%s}value-type" % NS["office"]), instant(cell.get("{%s}date-value" % NS["office"])),
                           cell.get("{%s}style-name" % NS["table"]))] * min(repeat, 13)
        rows += [cells[:13]] * min(int(row.get("{%s}number-rows-repeated" % NS["table"], "1")), count)
    names = [t.get("{%s}name" % NS["table"]) for t in tables]
    return rows[:count], names, root


def check_workbook(book, table, work):
    """Failures of the workbook `book` against the table's rows, `table` (the CSV's bytes; None: the
    container and the header only)."""
    failures = []
    with zipfile.ZipFile(book) as archive:
        if archive.testzip() is not None:
            return ["the workbook's ZIP fails its test at %s" % archive.testzip()]
        names = set(archive.namelist())
        failures += ["the workbook has no part %s" % p for p in sorted(PARTS - names)]
        for name in sorted(names):
            try:
                xml.dom.minidom.parseString(archive.read(name))
            except Exception as error:
                failures.append("the workbook's part %s is not XML: %s" % (name, error))
        sheet = ET.fromstring(archive.read("xl/worksheets/sheet1.xml"))
    pane = sheet.find("main:sheetViews/main:sheetView/main:pane", NS)
    if pane is None or (pane.get("ySplit"), pane.get("topLeftCell"), pane.get("state")) != ("1", "A2", "frozen"):
        failures.append("the sheet's header row is not frozen")
    if failures or table is None:
        return failures

    expected = list(csv.reader(io.StringIO(table.decode("utf-8-sig"), newline="")))
    # LibreOffice holds a line break in a cell as a break between paragraphs: the CR LF of a name that runs
    # over two lines reads back as one LF there (a lone CR stays CR).
    expected = [[(c[1:] if c[:1] == "'" and c[1:2] and c[1] in FORMULA_STARTS else c).replace("\r\n", "\n")
                 for c in row] for row in expected]
    out = work / "spreadsheet"
    shutil.rmtree(out, ignore_errors=True)
    shown = convert(book, "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true,false", out)
    fods = convert(book, "fods", out)
    if shown is None or fods is None:
        return ["LibreOffice did not convert the workbook"]
    rows = list(csv.reader(io.StringIO(shown.read_bytes().decode("utf-8"), newline="")))
    if rows != expected:
        failures.append("the workbook's cells as LibreOffice shows them differ from the table:\n%s\n%s" % (
            "\n".join(map(repr, rows)), "\n".join(map(repr, expected))))
    cells, sheets, root = ods_rows(fods, len(expected))
    if sheets != [SHEET]:
        failures.append("the sheets are %s, not one named %s" % (sheets, SHEET))
    bold = {s.get("{%s}name" % NS["style"]) for s in root.iter("{%s}style" % NS["style"])
            if any(p.get("{%s}font-weight" % NS["fo"]) == "bold" for p in s.iter("{%s}text-properties" % NS["style"]))}
    if len(cells) != len(expected) or any(c[2] not in bold for c in cells[0]):
        failures.append("the header row is not bold, or the sheet holds %d rows, not %d" % (len(cells), len(expected)))
    for number, (row, texts) in enumerate(zip(cells[1:], expected[1:]), 2):
        for column, ((kind, instant, _), text) in enumerate(zip(row, texts)):
            time = spreadsheet_time(text) if column in TIME_COLUMNS else None
            want = (None, None) if text == "" else ("date", time) if time else ("string", None)
            if (kind, instant) != want:
                failures.append("row %d column %d (%r) reads as %s %s, not %s %s" % (number, column + 1, text, kind,
                                                                                     instant, *want))
    ranges = [r.get("{%s}target-range-address" % NS["table"]) for r in root.iter("{%s}database-range" % NS["table"])
              if r.get("{%s}display-filter-buttons" % NS["table"]) == "true"]
    if ranges != ["'{0}'.A1:'{0}'.M{1}".format(SHEET, len(expected))]:
        failures.append("the autofilter covers %s, not every row" % ranges)
    return failures
