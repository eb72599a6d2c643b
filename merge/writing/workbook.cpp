#include "merge/writing/workbook.h"

#include <cstdint>
#include <cstring>
#include <iterator>

#include "merge/report_files.h"
#include "text/calendar.h"
#include "text/time_text.h"
#include "text/utf8.h"

namespace {

constexpr char kSheetName[] = "USB 裝置記錄";
constexpr char kColumnLetters[] = "ABCDEFGHIJKLM";
static_assert(sizeof(kColumnLetters) - 1 == kTableColumnCount, "a letter per column");
// Sheet XML gathered before it is handed to the ZIP.
constexpr std::size_t kXmlPieceBytes = 1 << 16;

constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr char kRelationshipsNamespace[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// The cell formats of styles.xml, by their place in its cellXfs; the first, General, is every empty
// cell's. Text cells are in the Text number format (@): a spreadsheet then keeps what is typed into one as
// text, so editing a cell never turns 0001 into 1 or a name into a live formula.
enum CellStyle { kGeneralStyle, kHeaderStyle, kMinuteTimeStyle, kSecondTimeStyle, kTextStyle };

constexpr char kStyles[] =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd hh:mm\"/>"
    "<numFmt numFmtId=\"165\" formatCode=\"yyyy-mm-dd hh:mm:ss\"/></numFmts>"
    "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"5\">"
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
    "<xf numFmtId=\"49\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\" "
    "applyNumberFormat=\"1\"/>"
    "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
    "<xf numFmtId=\"165\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
    "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
    "</cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

// A column's width in characters (a CJK character takes two), fit for what it holds, and the style of
// its cells: times are dates that sort and filter, everything else is text.
struct ColumnLayout {
  int width;
  CellStyle style;
};
// By column, in the table's order.
constexpr ColumnLayout kColumnLayouts[] = {
    {17, kTextStyle},        // computer
    {14, kTextStyle},        // user
    {17, kMinuteTimeStyle},  // report time
    {12, kTextStyle},        // kind
    {50, kTextStyle},        // device key name
    {14, kTextStyle},        // vendor
    {24, kTextStyle},        // product
    {8, kTextStyle},         // revision
    {40, kTextStyle},        // device name
    {16, kTextStyle},        // device type
    {20, kSecondTimeStyle},  // first use
    {20, kSecondTimeStyle},  // last use
    {70, kTextStyle},        // file
};
static_assert(std::size(kColumnLayouts) == kTableColumnCount, "a layout per column");

// The decimal digits of `value`, at most 20, written from `out` on; returns the end of what it wrote.
char* AppendDigits(std::uint64_t value, char* out) {
  char digits[20];
  char* first = digits + sizeof digits;
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  const std::size_t count = static_cast<std::size_t>(digits + sizeof digits - first);
  std::memcpy(out, first, count);
  return out + count;
}

// Appends the decimal digits of `value` in one piece.
void AppendNumber(std::uint64_t value, std::string& text) {
  char digits[20];
  text.append(digits, static_cast<std::size_t>(AppendDigits(value, digits) - digits));
}

std::string Number(std::uint64_t value) {
  std::string text;
  AppendNumber(value, text);
  return text;
}

std::string SheetName(std::size_t sheet) {
  return sheet == 1 ? std::string(kSheetName) : std::string(kSheetName) + " (" + Number(sheet) + ")";
}

std::string SheetPart(std::size_t sheet) {
  return "worksheets/sheet" + Number(sheet) + ".xml";
}

void AppendEscape(unsigned unit, std::string& xml) {
  static const char kHex[] = "0123456789ABCDEF";
  xml += "_x";
  for (int shift = 12; shift >= 0; shift -= 4) {
    xml += kHex[(unit >> shift) & 0xF];
  }
  xml += '_';
}

bool IsHexDigit(wchar_t unit) {
  return (unit >= L'0' && unit <= L'9') || (unit >= L'a' && unit <= L'f') || (unit >= L'A' && unit <= L'F');
}

bool IsHighSurrogate(unsigned unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(unsigned unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Whether the unit at `at` is written as "_xHHHH_": a unit that XML cannot carry (a C0 control but tab and
// LF, U+FFFE, U+FFFF, a surrogate that is not half of a pair), or CR, which XML reads as LF.
bool WrittenAsEscape(std::wstring_view text, std::size_t at) {
  const unsigned unit = static_cast<unsigned>(text[at]) & 0xFFFF;
  if (IsHighSurrogate(unit)) {
    return at + 1 == text.size() || !IsLowSurrogate(static_cast<unsigned>(text[at + 1]) & 0xFFFF);
  }
  if (IsLowSurrogate(unit)) {
    return at == 0 || !IsHighSurrogate(static_cast<unsigned>(text[at - 1]) & 0xFFFF);
  }
  return (unit < 0x20 && unit != '\t' && unit != '\n') || unit == 0xFFFE || unit == 0xFFFF;
}

// Whether the '_' at `at` begins, as written, what some reader takes for an escape: "_x", one to four hex
// digits in either case, and '_', which is either the text's own or the first of an escape that follows.
// Excel decodes the four-digit form; LibreOffice also the shorter ones.
bool NeedsGuard(std::wstring_view text, std::size_t at) {
  if (at + 1 >= text.size() || text[at + 1] != L'x') {
    return false;
  }
  std::size_t end = at + 2;
  while (end < text.size() && end < at + 6 && IsHexDigit(text[end])) {
    ++end;
  }
  return end > at + 2 && end < text.size() && (text[end] == L'_' || WrittenAsEscape(text, end));
}

}  // namespace

std::wstring WorkbookPath(const std::wstring& tablePath) {
  return WithExtension(tablePath, L".xlsx");
}

bool SpreadsheetTime(std::wstring_view text, std::string& serial) {
  // A time to the minute or to the second, not a day alone.
  constexpr int kMinuteParts = 5;
  int parts[6] = {};
  if (ReadTableTime(text, parts) < kMinuteParts) {
    return false;
  }
  const int year = parts[0], month = parts[1], day = parts[2];
  if (year < 1900 || year > 9999 || (year == 1900 && month < 3) ||
      !IsClockTime(year, month, day, parts[3], parts[4], parts[5])) {
    return false;
  }
  const std::int64_t days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  serial = Number(static_cast<std::uint64_t>(days));
  // The fraction to twelve places, a few nanoseconds at most from the second: no float, so the same
  // text always gives the same digits.
  const std::uint64_t seconds = static_cast<std::uint64_t>(parts[3] * 3600 + parts[4] * 60 + parts[5]);
  std::uint64_t fraction = (seconds * 1000000000000ull + 43200) / 86400;
  if (fraction > 0) {
    std::string digits = Number(fraction);
    digits.insert(0, 12 - digits.size(), '0');
    digits.erase(digits.find_last_not_of('0') + 1);
    serial += '.';
    serial += digits;
  }
  return true;
}

void AppendCellText(std::wstring_view text, std::string& xml) {
  for (std::size_t at = 0; at < text.size();) {
    // A run of ASCII that stands as it is, copied in one piece: most of a table's text.
    std::size_t end = at;
    while (end < text.size() && text[end] >= 0x20 && text[end] < 0x7F && text[end] != L'&' &&
           text[end] != L'<' && text[end] != L'>' && text[end] != L'_') {
      ++end;
    }
    if (end > at) {
      const std::size_t size = xml.size();
      xml.resize(size + (end - at));
      for (std::size_t i = at; i < end; ++i) {
        xml[size + (i - at)] = static_cast<char>(text[i]);
      }
      at = end;
      continue;
    }
    const unsigned unit = static_cast<unsigned>(text[at]) & 0xFFFF;
    if (unit == '&') {
      xml += "&amp;";
    } else if (unit == '<') {
      xml += "&lt;";
    } else if (unit == '>') {
      xml += "&gt;";
    } else if (unit == '_') {
      xml += NeedsGuard(text, at) ? "_x005F_" : "_";
    } else if (WrittenAsEscape(text, at)) {
      AppendEscape(unit, xml);
    } else if (IsHighSurrogate(unit)) {
      const unsigned low = static_cast<unsigned>(text[++at]) & 0x3FF;
      AppendCodePointUtf8(0x10000 + ((unit & 0x3FF) << 10) + low, xml);
    } else {
      AppendCodePointUtf8(unit, xml);
    }
    ++at;
  }
}

TableWorkbook::TableWorkbook(const std::wstring& path, std::size_t maxSheetRows)
    : zip_(path),
      maxSheetRows_(maxSheetRows < 2 ? 2 : maxSheetRows),
      sheets_(0),
      sheetRows_(0),
      textCells_(0),
      ok_(true) {
  BeginSheet();
}

void TableWorkbook::BeginSheet() {
  ++sheets_;
  sheetRows_ = 0;
  ok_ = ok_ && zip_.BeginEntry("xl/" + SheetPart(sheets_));
  xml_ = kXmlDeclaration;
  xml_ += "<worksheet xmlns=\"";
  xml_ += kMainNamespace;
  xml_ += "\" xmlns:r=\"";
  xml_ += kRelationshipsNamespace;
  xml_ += "\"><sheetViews><sheetView ";
  xml_ += sheets_ == 1 ? "tabSelected=\"1\" " : "";
  xml_ +=
      "workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" "
      "state=\"frozen\"/>"
      "<selection pane=\"bottomLeft\" activeCell=\"A2\" sqref=\"A2\"/></sheetView></sheetViews>"
      "<sheetFormatPr defaultRowHeight=\"15\"/><cols>";
  for (int column = 0; column < kTableColumnCount; ++column) {
    const std::string number = Number(static_cast<std::uint64_t>(column + 1));
    xml_ += "<col min=\"" + number + "\" max=\"" + number + "\" width=\"" +
            Number(static_cast<std::uint64_t>(kColumnLayouts[column].width)) + "\" customWidth=\"1\"/>";
  }
  xml_ += "</cols><sheetData>";
  AppendRow(TableHeader(), true);
}

void TableWorkbook::EndSheet() {
  xml_ += "</sheetData><autoFilter ref=\"A1:";
  xml_ += kColumnLetters[kTableColumnCount - 1];
  xml_ += Number(sheetRows_);
  // Every text cell is text on purpose: Excel is not to flag the numbers among them.
  xml_ += "\"/><ignoredErrors><ignoredError sqref=\"A1:";
  xml_ += kColumnLetters[kTableColumnCount - 1];
  xml_ += Number(sheetRows_) + "\" numberStoredAsText=\"1\"/></ignoredErrors></worksheet>";
  Flush(true);
}

bool TableWorkbook::AddRow(const TableRow& cells) {
  if (sheetRows_ == maxSheetRows_) {
    EndSheet();
    BeginSheet();
  }
  AppendRow(cells, false);
  return ok_;
}

void TableWorkbook::AppendRow(const TableRow& cells, bool header) {
  ++sheetRows_;
  // A cell begins with its reference, "<c r=\"" and the column's letter then the row's number: made once a
  // row, the letter put in for each cell, and appended in one piece, as is a text cell's rest, so that the
  // many short pieces of a row cost few calls.
  char reference[32] = "<c r=\"A";
  constexpr std::size_t kLetterAt = 6;
  char* const rowEnd = AppendDigits(sheetRows_, reference + kLetterAt + 1);
  const std::size_t referenceSize = static_cast<std::size_t>(rowEnd - reference);
  const std::string_view row(reference + kLetterAt + 1, referenceSize - kLetterAt - 1);
  xml_ += "<row r=\"";
  xml_ += row;
  xml_ += "\">";
  std::string serial;
  for (int column = 0; column < kTableColumnCount; ++column) {
    const std::wstring_view text = cells[static_cast<std::size_t>(column)];
    if (text.empty()) {
      continue;
    }
    reference[kLetterAt] = kColumnLetters[column];
    xml_.append(reference, referenceSize);
    LastCell& last = lastCells_[static_cast<std::size_t>(column)];
    if (!header && text.data() == last.data && text.size() == last.size) {
      xml_ += last.rest;
      textCells_ += last.text ? 1 : 0;
      continue;
    }
    const std::size_t restBegin = xml_.size();
    const CellStyle style = header ? kHeaderStyle : kColumnLayouts[column].style;
    const bool time = style != kTextStyle && style != kHeaderStyle && SpreadsheetTime(text, serial);
    if (time) {
      xml_ += "\" s=\"";
      xml_ += static_cast<char>('0' + style);
      xml_ += "\"><v>";
      xml_ += serial;
      xml_ += "</v></c>";
    } else {
      TextId id = sharedTexts_.Find(text);
      id = id != kNoText ? id : sharedTexts_.Add(text);
      ++textCells_;
      char rest[48] = "\" s=\"0\" t=\"s\"><v>";
      constexpr std::size_t kStyleAt = 5, kIdAt = sizeof "\" s=\"0\" t=\"s\"><v>" - 1;
      rest[kStyleAt] = static_cast<char>('0' + (header ? kHeaderStyle : kTextStyle));
      char* const idEnd = AppendDigits(id - 1, rest + kIdAt);
      std::memcpy(idEnd, "</v></c>", 8);
      xml_.append(rest, static_cast<std::size_t>(idEnd + 8 - rest));
    }
    if (!header) {
      last.rest.assign(xml_, restBegin, std::string::npos);
      last.data = text.data();
      last.size = text.size();
      last.text = !time;
    }
  }
  xml_ += "</row>";
  Flush(false);
}

void TableWorkbook::Flush(bool all) {
  if (all || xml_.size() >= kXmlPieceBytes) {
    ok_ = zip_.Append(xml_) && ok_;
    xml_.clear();
  }
}

void TableWorkbook::WriteSharedTexts() {
  ok_ = ok_ && zip_.BeginEntry("xl/sharedStrings.xml");
  xml_ = kXmlDeclaration;
  xml_ += "<sst xmlns=\"";
  xml_ += kMainNamespace;
  xml_ += "\" count=\"" + Number(textCells_) + "\" uniqueCount=\"" + Number(sharedTexts_.Count() - 1) + "\">";
  for (TextId id = 1; id < sharedTexts_.Count(); ++id) {
    const std::wstring_view text = sharedTexts_.Text(id);
    // Whitespace at either end is kept only where the text says so.
    const auto space = [](wchar_t unit) { return unit == L' ' || unit == L'\t' || unit == L'\n'; };
    xml_ += space(text.front()) || space(text.back()) ? "<si><t xml:space=\"preserve\">" : "<si><t>";
    AppendCellText(text, xml_);
    xml_ += "</t></si>";
    Flush(false);
  }
  xml_ += "</sst>";
  Flush(true);
}

bool TableWorkbook::Commit() {
  EndSheet();
  WriteSharedTexts();
  std::string contentTypes = kXmlDeclaration, workbook = kXmlDeclaration, relationships = kXmlDeclaration;
  contentTypes +=
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
      "<Override PartName=\"/xl/sharedStrings.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
  workbook += std::string("<workbook xmlns=\"") + kMainNamespace + "\" xmlns:r=\"" + kRelationshipsNamespace +
              "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
  relationships += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  std::string filters;
  for (std::size_t sheet = 1; sheet <= sheets_; ++sheet) {
    const std::string number = Number(sheet);
    contentTypes +=
        "<Override PartName=\"/xl/" + SheetPart(sheet) +
        "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    workbook +=
        "<sheet name=\"" + SheetName(sheet) + "\" sheetId=\"" + number + "\" r:id=\"rId" + number + "\"/>";
    relationships +=
        "<Relationship Id=\"rId" + number +
        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
        "Target=\"" +
        SheetPart(sheet) + "\"/>";
    // A sheet's last row: every sheet but the last is full.
    const std::size_t lastRow = sheet < sheets_ ? maxSheetRows_ : sheetRows_;
    filters += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"" + Number(sheet - 1) +
               "\" hidden=\"1\">'" + SheetName(sheet) + "'!$A$1:$" + kColumnLetters[kTableColumnCount - 1] +
               "$" + Number(lastRow) + "</definedName>";
  }
  contentTypes += "</Types>";
  workbook += "</sheets><definedNames>" + filters + "</definedNames></workbook>";
  relationships += "<Relationship Id=\"rId" + Number(sheets_ + 1) +
                   "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
                   "Target=\"styles.xml\"/><Relationship Id=\"rId" +
                   Number(sheets_ + 2) +
                   "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
                   "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
  const std::string packageRelationships =
      std::string(kXmlDeclaration) +
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
      "<Relationship Id=\"rId1\" "
      "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
      "Target=\"xl/workbook.xml\"/></Relationships>";
  const struct {
    const char* name;
    std::string xml;
  } parts[] = {{"xl/workbook.xml", workbook},
               {"xl/_rels/workbook.xml.rels", relationships},
               {"xl/styles.xml", kXmlDeclaration + std::string(kStyles)},
               {"_rels/.rels", packageRelationships},
               {"[Content_Types].xml", contentTypes}};
  for (const auto& part : parts) {
    ok_ = ok_ && zip_.BeginEntry(part.name) && zip_.Append(part.xml);
  }
  return ok_ && zip_.Commit();
}
