"""The workbook against the table, cell by cell, as three independent readers read it: LibreOffice (each cell as
shown, and as flat OpenDocument for its type and a time's instant), openpyxl (value and number format) and
gnumeric (raw value); its container and parts with zipfile and an XML parser, and in the sheet's own XML its
frozen header and the range where numbers stored as text are not flagged. The only differences allowed: the
CSV's apostrophe before a formula-looking cell, LibreOffice's CR LF read as LF, and for a reader that does
not decode "_xHHHH_" the text as written, which must itself decode to the table's."""

import csv, datetime, io, json, pathlib, re, shutil, struct, subprocess, tempfile, zipfile
import xml.dom.minidom, xml.etree.ElementTree as ET

SHEET = "USB 裝置記錄"
TIME_COLUMNS = {2, 10, 11}  # 報告時間, 首次使用, 最後使用
FORMULA_STARTS = "=+-@\t\r"  # the CSV writes these after an apostrophe; the workbook's text has none
PARTS = {"[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/styles.xml",
         "xl/sharedStrings.xml", "xl/worksheets/sheet1.xml"}
TIME_FORMATS = {2: "yyyy-mm-dd hh:mm", 10: "yyyy-mm-dd hh:mm:ss", 11: "yyyy-mm-dd hh:mm:ss"}
ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")
# What a reader that does not decode every escape shows of a cell's text as written: openpyxl 3.0 drops every
# "x005F_" of a shared text (a text holding "x005F_" itself loses it, whoever wrote it); gnumeric 1.12 nothing.
SHOWN_AS_WRITTEN = {"openpyxl": lambda written: written.replace("x005F_", ""), "gnumeric": lambda written: written}
# Debian's python3-openpyxl is importable by Debian's own interpreter, which a python3 found first on PATH
# (a pyenv, a virtual environment) may not be.
OPENPYXL_READ = """
import datetime, json, sys, openpyxl
sheet = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
print(json.dumps([[(type(c.value).__name__, c.value.isoformat() if isinstance(c.value, datetime.datetime) else c.value,
                    c.number_format) for c in row] for row in sheet.iter_rows(max_col=13)]))
"""
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


def to_second(moment):
    return (moment + datetime.timedelta(microseconds=500000)).replace(microsecond=0).isoformat()


def instant(date_value):
    """An ODF date value to the second ("2024-01-02", "2024-01-02T03:04:05.000001" as written)."""
    if date_value is None:
        return None
    day, _, time = date_value.partition("T")
    return to_second(datetime.datetime.fromisoformat(day + "T" + (time or "00:00:00")))


def ods_rows(fods, count):
    """The first sheet's first `count` rows of 13 (type, date value, style name) cells, the sheets' names."""
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


def decoded(written):
    """A cell's text as the format reads what is written: each "_xHHHH_" stands for the unit HHHH."""
    return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), written)


def written_texts(archive):
    """Each text cell's text as the first sheet writes it (escapes and all), by row and column from 0."""
    main = "{%s}" % NS["main"]
    shared = []
    if "xl/sharedStrings.xml" in archive.namelist():
        shared = ["".join(t.text or "" for t in si.iter(main + "t"))
                  for si in ET.fromstring(archive.read("xl/sharedStrings.xml")).iter(main + "si")]
    texts = {}
    for cell in ET.fromstring(archive.read("xl/worksheets/sheet1.xml")).iter(main + "c"):
        column, row = re.fullmatch(r"([A-Z]+)(\d+)", cell.get("r")).groups()
        place = (int(row) - 1, ord(column) - ord("A"))
        if cell.get("t") == "s":
            index = int(cell.find(main + "v").text)
            texts[place] = shared[index] if index < len(shared) else None
        elif cell.get("t") == "inlineStr":
            texts[place] = "".join(t.text or "" for t in cell.iter(main + "t"))
    return texts


def serial_instant(serial):
    """A spreadsheet's serial number (days since 1899-12-30) as the instant to the second."""
    return to_second(datetime.datetime(1899, 12, 30) + datetime.timedelta(days=float(serial)))


def other_readers(book, table_rows, texts, out):
    """openpyxl's and gnumeric's reading of every cell: a time as a date of the same instant, the rest as written."""
    failures = []
    read = subprocess.run(["/usr/bin/python3", "-c", OPENPYXL_READ, str(book)], capture_output=True, text=True,
                          timeout=300)
    converted = out / "gnumeric.csv"
    subprocess.run(["timeout", "300", "ssconvert", "--export-type=Gnumeric_stf:stf_assistant",
                    "-O", "separator=, quoting-mode=always format=raw eol=unix charset=UTF-8", str(book),
                    str(converted)], capture_output=True)
    if read.returncode != 0 or not converted.exists():
        return ["openpyxl or ssconvert could not read the workbook: %s" % read.stderr[-2000:]]
    readings = {"openpyxl": json.loads(read.stdout),
                "gnumeric": list(csv.reader(io.StringIO(converted.read_bytes().decode("utf-8"), newline="")))}
    for reader, rows in readings.items():
        if len(rows) != len(table_rows):
            failures.append("%s reads %d rows, not %d" % (reader, len(rows), len(table_rows)))
        for number, (row, table_row) in enumerate(zip(rows, table_rows)):
            for column, text in enumerate(table_row):
                got = row[column] if column < len(row) else None
                time = spreadsheet_time(text) if number > 0 and column in TIME_COLUMNS else None
                shown = SHOWN_AS_WRITTEN[reader](texts.get((number, column)) or "")
                if reader == "openpyxl":
                    want = (["NoneType", None, "General"] if text == "" else
                            ["datetime", time, TIME_FORMATS[column]] if time else ["str", shown, "@"])
                    got = [got[0], instant(got[1]), got[2]] if got and got[0] == "datetime" else got
                else:
                    want = "" if text == "" else time if time else shown
                    got = serial_instant(got) if time and got else got
                if got != want:
                    failures.append("%s reads row %d column %d (%r) as %r, not %r" % (reader, number + 1, column + 1,
                                                                                 text, got, want))
    return failures


def check_workbook(book, table, work):
    """Failures of `book` against the table's CSV bytes (None: the container and the header only)."""
    failures = []
    with zipfile.ZipFile(book) as archive:
        if archive.testzip() is not None:
            return ["the workbook's ZIP fails its test at %s" % archive.testzip()]
        raw = book.read_bytes()
        for entry in archive.infolist():  # its local header and data descriptor say what the directory says
            names_end = entry.header_offset + 30 + sum(struct.unpack_from("<HH", raw, entry.header_offset + 26))
            if (struct.unpack_from("<H", raw, entry.header_offset + 6)[0] != entry.flag_bits or not entry.flag_bits & 8
                    or struct.unpack_from("<4I", raw, names_end + entry.compress_size)
                    != (0x08074b50, entry.CRC, entry.compress_size, entry.file_size)):
                failures.append("the workbook's entry %s is framed unlike its directory entry" % entry.filename)
        names = set(archive.namelist())
        failures += ["the workbook has no part %s" % p for p in sorted(PARTS - names)]
        for name in sorted(names):
            try:
                xml.dom.minidom.parseString(archive.read(name))
            except Exception as error:
                failures.append("the workbook's part %s is not XML: %s" % (name, error))
        sheet = ET.fromstring(archive.read("xl/worksheets/sheet1.xml"))
        texts = written_texts(archive)
    pane = sheet.find("main:sheetViews/main:sheetView/main:pane", NS)
    if pane is None or (pane.get("ySplit"), pane.get("topLeftCell"), pane.get("state")) != ("1", "A2", "frozen"):
        failures.append("the sheet's header row is not frozen")
    if failures or table is None:
        return failures

    table_rows = [[c[1:] if c[:1] == "'" and c[1:2] and c[1] in FORMULA_STARTS else c for c in row]
                  for row in csv.reader(io.StringIO(table.decode("utf-8-sig"), newline=""))]
    for (number, column), written in sorted(texts.items()):
        want = table_rows[number][column] if number < len(table_rows) and column < 13 else None
        if written is None or decoded(written) != want:
            failures.append("row %d column %d is written %r, which decodes to %r, not %r" % (
                number + 1, column + 1, written, written and decoded(written), want))
    ignored = sheet.find("main:ignoredErrors/main:ignoredError", NS)
    if ignored is None or (ignored.get("sqref"), ignored.get("numberStoredAsText")) != ("A1:M%d" % len(table_rows), "1"):
        failures.append("the sheet does not keep numbers stored as text in A1:M%d from being flagged" % len(table_rows))
    # LibreOffice holds a line break in a cell as a break between paragraphs: the CR LF of a name that runs
    # over two lines reads back as one LF there (a lone CR stays CR).
    expected = [[c.replace("\r\n", "\n") for c in row] for row in table_rows]
    out = work / "spreadsheet"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    failures += other_readers(book, table_rows, texts, out)
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
