#include "tests/fuzz/merge_input_check.h"

#include <cwchar>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <zlib.h>

#include "merge/reading/report_name.h"
#include "merge/reading/report_reader.h"
#include "merge/writing/overview_page.h"
#include "merge/writing/workbook.h"
#include "registry/time_text.h"
#include "report/report_format.h"

std::wstring Utf16Units(const std::string& bytes, bool* invalid) {
  std::wstring units;
  for (std::size_t at = 0; at < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[at]);
    const int extra = lead < 0x80                    ? 0
                      : lead >= 0xC2 && lead <= 0xDF ? 1
                      : lead >= 0xE0 && lead <= 0xEF ? 2
                      : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                     : -1;
    std::uint32_t code = extra == 0   ? lead
                         : extra == 1 ? lead & 0x1F
                         : extra == 2 ? lead & 0x0F
                                      : lead & 0x07;
    bool valid = extra >= 0 && at + extra < bytes.size();
    for (int i = 1; valid && i <= extra; ++i) {
      const unsigned char next = static_cast<unsigned char>(bytes[at + i]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    valid = valid && !(extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
            !(extra == 3 && (code < 0x10000 || code > 0x10FFFF));
    if (!valid) {
      if (invalid) {
        *invalid = true;
      }
      units += L'\xFFFD';
      ++at;
      continue;
    }
    at += 1 + extra;
    if (code >= 0x10000) {
      units += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<wchar_t>(code);
    }
  }
  return units;
}

namespace {

// Few rows per sheet, so that small inputs reach the workbook's later sheets too.
constexpr std::size_t kSheetRows = 3;

std::string Narrow(std::wstring_view text) {
  std::string ascii;
  for (const wchar_t unit : text) {
    ascii += unit >= 0x20 && unit < 0x7F ? static_cast<char>(unit) : '?';
  }
  return ascii;
}

const ReportLine* LinesOf(RecordKind kind, std::size_t& count) {
  switch (kind) {
    case RecordKind::kBothViews:
      count = std::size(kBothViewsLines);
      return kBothViewsLines;
    case RecordKind::kNoInterface:
      count = std::size(kNoInterfaceLines);
      return kNoInterfaceLines;
    case RecordKind::kNoDeviceKey:
      break;
  }
  count = std::size(kNoDeviceKeyLines);
  return kNoDeviceKeyLines;
}

// Table time text "YYYY-MM-DD hh:mm:ss" in the report's own form, or empty when it is not table time text
// of a moment a registry time can hold: a year from 1601 to 30827, a day that its month has.
std::wstring ReportTimeOf(std::wstring_view time) {
  int parts[6] = {};
  int count = 0;
  for (std::size_t at = 0; at < time.size() && count < 6; ++count) {
    std::size_t digits = 0;
    for (; at < time.size() && time[at] >= L'0' && time[at] <= L'9' && digits < 6; ++at, ++digits) {
      parts[count] = parts[count] * 10 + (time[at] - L'0');
    }
    static constexpr wchar_t kAfter[] = L"-- ::";
    if (digits == 0 || digits > 5 || (count > 0 && digits != 2) || (count == 0 && digits < 4)) {
      return L"";
    }
    if (count < 5 && (at >= time.size() || time[at++] != kAfter[count])) {
      return L"";
    }
    if (count == 5 && at != time.size()) {
      return L"";
    }
  }
  if (count != 6 || parts[0] < 1601 || parts[0] > 30827 || parts[1] < 1 || parts[1] > 12) {
    return L"";
  }
  const bool leapYear = parts[0] % 400 == 0 || (parts[0] % 4 == 0 && parts[0] % 100 != 0);
  const int month = parts[1];
  const int monthDays = month == 2                                                ? (leapYear ? 29 : 28)
                        : (month == 4 || month == 6 || month == 9 || month == 11) ? 30
                                                                                  : 31;
  if (parts[2] < 1 || parts[2] > monthDays || parts[3] > 23 || parts[4] > 59 || parts[5] > 59) {
    return L"";
  }
  wchar_t text[32] = {};
  std::swprintf(text, std::size(text), kTimeTextFormat, parts[0], parts[1], parts[2], parts[3], parts[4],
                parts[5]);
  return text;
}

// Each value of each record stands in the decoded text exactly as read: after its label, on lines of its
// own, and within the reader's limits.
std::string CheckRecords(const std::wstring& text, unsigned codePage, const ReportContent& content) {
  const std::wstring lineEnd = kReportLineEnd;
  for (const ReportRecord& record : content.records) {
    std::size_t count = 0;
    const ReportLine* lines = LinesOf(record.kind, count);
    for (std::size_t i = 0; i < count; ++i) {
      const ReportField field = lines[i].field;
      const std::wstring_view value = content.Field(record, field);
      std::wstring written(value);
      if (field == ReportField::kFirstUsed || field == ReportField::kLastUsed) {
        written = ReportTimeOf(value);
        if (written.empty() != value.empty()) {
          return "a time that is not table time text: " + Narrow(value);
        }
      } else if (value.size() > kMaxReportValueUnits || value.find(L"\r\n\r\n") != std::wstring_view::npos ||
                 (field == ReportField::kDeviceKeyName && value.find(lineEnd) != std::wstring_view::npos)) {
        return "a value that the reader may not take: " + Narrow(value);
      }
      if (text.find(lineEnd + LiteralAsRead(codePage, lines[i].label) + written + lineEnd) ==
          std::wstring::npos) {
        return "a value that the report does not hold after its label: " + Narrow(value);
      }
    }
  }
  return "";
}

// Every row of the table carries the report's name and exactly the values of its records, in their order.
std::string CheckRows(const std::vector<TableRow>& rows, const std::wstring& fileName, const ReportName& name,
                      const ReportContent* content) {
  const std::size_t records = content ? content->records.size() : 0;
  if (content == nullptr ? !rows.empty() : rows.size() != (records == 0 ? 1 : records)) {
    return "the table has " + std::to_string(rows.size()) + " rows for " + std::to_string(records) +
           " records";
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const TableRow& row = rows[r];
    if (row[kComputerColumn] != name.computer || row[kUserColumn] != name.user ||
        row[kReportTimeColumn] != name.time || row[kFileColumn] != fileName) {
      return "a row whose computer, user, time or file is not the name's";
    }
    if (records == 0) {
      continue;
    }
    const ReportRecord& record = content->records[r];
    static constexpr std::pair<TableColumn, ReportField> kCells[] = {
        {kDeviceKeyColumn, ReportField::kDeviceKeyName},
        {kFriendlyNameColumn, ReportField::kFriendlyName},
        {kDescriptionColumn, ReportField::kDescription},
        {kFirstUsedColumn, ReportField::kFirstUsed},
        {kLastUsedColumn, ReportField::kLastUsed}};
    for (const auto& [column, field] : kCells) {
      if (row[column] != content->Field(record, field)) {
        return "a cell that differs from its value: " + Narrow(row[column]) + " for " +
               Narrow(content->Field(record, field));
      }
    }
  }
  return "";
}

// The CSV's cells, read back as RFC 4180 reads them.
bool ParseCsv(const std::wstring& csv, std::vector<std::vector<std::wstring>>& rows) {
  std::vector<std::wstring> row(1);
  for (std::size_t at = 0; at < csv.size();) {
    if (csv[at] == L'"' && row.back().empty()) {
      for (++at;; ++at) {
        if (at >= csv.size()) {
          return false;
        }
        if (csv[at] == L'"') {
          if (at + 1 < csv.size() && csv[at + 1] == L'"') {
            row.back() += L'"';
            ++at;
            continue;
          }
          ++at;
          break;
        }
        row.back() += csv[at];
      }
    } else if (csv[at] == L',') {
      row.emplace_back();
      ++at;
    } else if (csv.compare(at, 2, L"\r\n") == 0) {
      rows.push_back(std::move(row));
      row.assign(1, L"");
      at += 2;
    } else if (csv[at] == L'"' || csv[at] == L'\r' || csv[at] == L'\n') {
      return false;
    } else {
      row.back() += csv[at++];
    }
  }
  return row.size() == 1 && row[0].empty();
}

std::string CheckCsv(const std::vector<TableRow>& rows) {
  std::wstring csv;
  AppendCsvRow(TableHeader(), csv);
  for (const TableRow& row : rows) {
    AppendCsvRow(row, csv);
  }
  std::vector<std::vector<std::wstring>> cells;
  if (!ParseCsv(csv, cells) || cells.size() != rows.size() + 1) {
    return "the CSV does not read back as its rows";
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (cells[r + 1].size() != kTableColumnCount) {
      return "a CSV row with another number of cells";
    }
    for (std::size_t c = 0; c < kTableColumnCount; ++c) {
      const std::wstring_view cell = rows[r][c];
      const bool formula =
          !cell.empty() && std::wstring_view(L"=+-@\t\r").find(cell[0]) != std::wstring::npos;
      if (cells[r + 1][c] != (formula ? L"'" : L"") + std::wstring(cell)) {
        return "a CSV cell that does not read back as its text: " + Narrow(cell);
      }
    }
  }
  return "";
}

// What a browser must never meet in the page's source: a control character but tab, LF and CR.
bool IsRawControl(wchar_t unit) {
  return (unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r') || (unit >= 0x7F && unit <= 0x9F);
}

std::string CheckPage(const std::wstring& page) {
  for (const wchar_t unit : page) {
    if (IsRawControl(unit)) {
      return "a raw control character in the page: " + std::to_string(static_cast<unsigned>(unit));
    }
  }
  return "";
}

// The entries of a ZIP that ZipWriter wrote (deflated, sizes in a data descriptor after each), by name.
bool Unzip(const std::string& zip, std::map<std::string, std::string>& entries) {
  std::size_t at = 0;
  const auto Number = [&zip](std::size_t offset, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes; i-- > 0;) {
      value = (value << 8) | static_cast<unsigned char>(zip[offset + i]);
    }
    return value;
  };
  while (at + 30 <= zip.size() && zip.compare(at, 4, "PK\x03\x04") == 0) {
    const std::size_t nameBytes = Number(at + 26, 2), extraBytes = Number(at + 28, 2);
    const std::size_t data = at + 30 + nameBytes + extraBytes;
    if (data > zip.size()) {
      return false;
    }
    std::string& entry = entries[zip.substr(at + 30, nameBytes)];
    z_stream stream = {};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
      return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + data));
    stream.avail_in = static_cast<uInt>(zip.size() - data);
    int status = Z_OK;
    while (status == Z_OK) {
      char out[16384];
      stream.next_out = reinterpret_cast<Bytef*>(out);
      stream.avail_out = sizeof out;
      status = inflate(&stream, Z_NO_FLUSH);
      entry.append(out, sizeof out - stream.avail_out);
    }
    const std::size_t used = stream.total_in;
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
      return false;
    }
    at = data + used;
    at += zip.compare(at, 4, "PK\x07\x08") == 0 ? 16 : 12;
  }
  return !entries.empty() && at <= zip.size() && zip.compare(at, 4, "PK\x01\x02") == 0;
}

// A part's text is UTF-8 that XML can carry: no C0 control but tab and LF (CR only ending the declaration,
// since XML reads a CR as LF), no U+FFFE or U+FFFF, no surrogate.
std::string CheckXml(const std::string& name, const std::string& xml) {
  for (std::size_t at = 0; at < xml.size(); ++at) {
    const unsigned char byte = static_cast<unsigned char>(xml[at]);
    if (byte == '\r' && (at < 2 || xml.compare(at - 2, 4, "?>\r\n") != 0)) {
      return name + " holds a raw CR";
    }
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
      return name + " holds a raw control character " + std::to_string(byte);
    }
  }
  bool invalid = false;
  const std::wstring units = Utf16Units(xml, &invalid);
  if (invalid || units.find_first_of(L"\xFFFE\xFFFF") != std::wstring::npos) {
    return name + " holds bytes that are not UTF-8, or U+FFFE or U+FFFF";
  }
  return "";
}

// The shared texts as Excel reads them: the references undone, then every "_xHHHH_" decoded.
std::set<std::wstring> SharedTexts(const std::string& xml) {
  std::set<std::wstring> texts;
  for (std::size_t at = xml.find("<si><t"); at != std::string::npos; at = xml.find("<si><t", at)) {
    const std::size_t begin = xml.find('>', at + 6) + 1, end = xml.find("</t></si>", begin);
    if (begin == 0 || end == std::string::npos) {
      break;
    }
    std::string raw = xml.substr(begin, end - begin);
    for (const auto& [reference, character] : {std::pair<const char*, const char*>{"&lt;", "<"},
                                               {"&gt;", ">"},
                                               {"&quot;", "\""},
                                               {"&amp;", "&"}}) {
      for (std::size_t r = raw.find(reference); r != std::string::npos; r = raw.find(reference, r + 1)) {
        raw.replace(r, std::char_traits<char>::length(reference), character);
      }
    }
    const std::wstring escaped = Utf16Units(raw);
    std::wstring text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      unsigned code = 0;
      bool escape = escaped.compare(i, 2, L"_x") == 0 && i + 6 < escaped.size() && escaped[i + 6] == L'_';
      for (std::size_t d = i + 2; escape && d < i + 6; ++d) {
        const wchar_t h = escaped[d];
        escape = (h >= L'0' && h <= L'9') || (h >= L'A' && h <= L'F') || (h >= L'a' && h <= L'f');
        code = code * 16 + (h <= L'9' ? h - L'0' : (h | 0x20) - L'a' + 10);
      }
      text += escape ? static_cast<wchar_t>(code) : escaped[i];
      i += escape ? 6 : 0;
    }
    texts.insert(text);
    at = end;
  }
  return texts;
}

std::string CheckWorkbook(const std::vector<TableRow>& rows) {
  std::map<std::string, std::string> parts;
  if (!Unzip(WorkbookBytes(rows, kSheetRows), parts)) {
    return "the workbook is not a ZIP of deflated parts";
  }
  for (const auto& [name, xml] : parts) {
    if (std::string fault = CheckXml(name, xml); !fault.empty()) {
      return fault;
    }
  }
  const std::set<std::wstring> texts = SharedTexts(parts["xl/sharedStrings.xml"]);
  for (const TableRow& row : rows) {
    for (std::size_t c = 0; c < kTableColumnCount; ++c) {
      const bool time = c == kReportTimeColumn || c == kFirstUsedColumn || c == kLastUsedColumn;
      std::string serial;
      if (!row[c].empty() && !(time && SpreadsheetTime(row[c], serial)) &&
          !texts.count(std::wstring(row[c]))) {
        return "a cell whose text the workbook's shared texts do not hold: " + Narrow(row[c]);
      }
    }
  }
  return "";
}

}  // namespace

std::string CheckMergeInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nameEnd = input.find('\n');
  const std::wstring fileName = Utf16Units(input.substr(0, nameEnd));
  const std::string bytes = nameEnd == std::string::npos ? "" : input.substr(nameEnd + 1);

  ReportName name;
  const NameReading nameReading = ParseReportName(fileName, name);
  if (nameReading == NameReading::kReportName) {
    const std::wstring extension = kReportNameExtension;
    const std::wstring rebuilt = name.stamp + kReportNameSeparator + name.user + kReportNameSeparator +
                                 name.computer + fileName.substr(fileName.size() - extension.size());
    if (rebuilt != fileName || name.user.empty() || name.computer.empty() || name.computer.size() > 15 ||
        name.time.size() != 16) {
      return "a name that does not read back as its parts: " + Narrow(fileName);
    }
  }

  // A reader per code page, made once, as the merger makes them.
  static std::map<unsigned, std::unique_ptr<ReportReader>> readers;
  static ReportReading reading;
  const ReportContent* content = nullptr;
  std::wstring text;
  const unsigned codePage = nameReading == NameReading::kReportName ? ReportCodePage(bytes) : 0;
  if (codePage != 0 && DecodeReportText(bytes, codePage, text)) {
    std::unique_ptr<ReportReader>& reader = readers[codePage];
    if (!reader) {
      reader = std::make_unique<ReportReader>(
          [codePage](const wchar_t* literal) { return LiteralAsRead(codePage, literal); });
    }
    reader->Read(text, reading);
    if (reading.outcome == ReportReading::kRead) {
      content = &reading.content;
      if (std::string fault = CheckRecords(text, codePage, *content); !fault.empty()) {
        return fault;
      }
    }
  }

  MergedReports merged;
  std::vector<NotMergedFile> notMerged;
  if (content) {
    merged.Add(fileName, name, *content);
  } else {
    notMerged.push_back({fileName, L"-"});
  }
  merged.Order(false);
  std::vector<TableRow> rows;
  ForEachTableRow(merged, [&rows](const TableRow& row) { rows.push_back(row); });
  std::string fault = CheckRows(rows, fileName, name, content);
  if (fault.empty()) {
    fault = CheckCsv(rows);
  }
  if (fault.empty()) {
    fault = CheckPage(OverviewPage(merged, notMerged, L"2020-01-01"));
  }
  if (fault.empty()) {
    fault = CheckWorkbook(rows);
  }
  return fault;
}
