#include "tests/fuzz/merge_input_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <regex>
#include <vector>

#include "merge/reading/report_name.h"
#include "merge/reading/report_reader.h"
#include "merge/writing/overview_page.h"
#include "merge/writing/workbook.h"
#include "report/report_format.h"
#include "text/time_text.h"

std::wstring Utf16Units(const std::string& bytes, bool* invalid) {
  static constexpr std::uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};  // by the count of continuation bytes
  std::wstring units;
  for (std::size_t at = 0; at < bytes.size();) {
    const unsigned char lead = static_cast<unsigned char>(bytes[at]);
    const int extra = lead < 0x80   ? 0
                      : lead < 0xC0 ? -1
                      : lead < 0xE0 ? 1
                      : lead < 0xF0 ? 2
                      : lead < 0xF8 ? 3
                                    : -1;
    std::uint32_t code = extra > 0 ? lead & (0x3F >> extra) : lead;
    bool valid = extra >= 0 && at + extra < bytes.size();
    for (int i = 1; valid && i <= extra; ++i) {
      const unsigned char next = static_cast<unsigned char>(bytes[at + i]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid || code < kLeast[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
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

// The lines of a record of each kind, in the order of RecordKind.
const std::pair<const ReportLine*, std::size_t> kRecordLines[] = {
    {kBothViewsLines, std::size(kBothViewsLines)},
    {kNoInterfaceLines, std::size(kNoInterfaceLines)},
    {kNoDeviceKeyLines, std::size(kNoDeviceKeyLines)}};

// The report's form, "YYYY/MM/DD  hh:mm:ss", of table time text "YYYY-MM-DD hh:mm:ss" (a year of four or
// five digits); empty when `time` is not table time text.
std::wstring ReportFormOf(std::wstring_view time) {
  static const std::wregex form(L"(\\d{4,5})-(\\d\\d)-(\\d\\d) (\\d\\d:\\d\\d:\\d\\d)");
  const std::wstring text(time);
  return std::regex_match(text, form) ? std::regex_replace(text, form, L"$1/$2/$3  $4") : L"";
}

// Each value of each record stands in the decoded text exactly as read: after its label, on lines of its
// own, and within the reader's limits.
std::string CheckRecords(const std::wstring& text, unsigned codePage, const ReportContent& content) {
  const std::wstring lineEnd = kReportLineEnd;
  for (const ReportRecord& record : content.records) {
    const auto [lines, count] = kRecordLines[static_cast<std::size_t>(record.kind)];
    for (std::size_t i = 0; i < count; ++i) {
      const ReportField field = lines[i].field;
      const std::wstring_view value = content.Field(record, field);
      std::wstring written(value);
      if (field == ReportField::kFirstUsed || field == ReportField::kLastUsed) {
        written = ReportFormOf(value);
        if (written.empty() != value.empty()) {
          return "a time that is not table time text";
        }
      } else if (value.size() > kMaxReportValueUnits || value.find(L"\r\n\r\n") != std::wstring_view::npos ||
                 (field == ReportField::kDeviceKeyName && value.find(lineEnd) != std::wstring_view::npos)) {
        return "a value that the reader may not take";
      }
      if (text.find(lineEnd + LiteralAsRead(codePage, lines[i].label) + written + lineEnd) ==
          std::wstring::npos) {
        return "a value that the report does not hold after its label";
      }
    }
  }
  return "";
}

// What a browser must never meet in the page's source: a control character but tab, LF and CR.
std::string CheckPage(const std::wstring& page) {
  for (const wchar_t unit : page) {
    if ((unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r') || (unit >= 0x7F && unit <= 0x9F)) {
      return "a raw control character in the page: " + std::to_string(static_cast<unsigned>(unit));
    }
  }
  return "";
}

// Every text reaches the workbook through AppendCellText: as written there, it is UTF-8 that XML can carry,
// with no C0 control but tab and LF, no CR (XML reads a CR as LF), no U+FFFE or U+FFFF and no surrogate.
// The workbook is written whole too, for what it does with the rows beyond their texts.
std::string CheckWorkbook(const std::vector<TableRow>& rows) {
  for (const TableRow& row : rows) {
    for (const std::wstring_view cell : row) {
      std::string xml;
      AppendCellText(cell, xml);
      bool invalid = false;
      const std::wstring units = Utf16Units(xml, &invalid);
      const bool control = std::any_of(xml.begin(), xml.end(), [](char byte) {
        return static_cast<unsigned char>(byte) < 0x20 && byte != '\t' && byte != '\n';
      });
      if (invalid || control || units.find_first_of(L"\xFFFE\xFFFF") != std::wstring::npos) {
        return "a cell's text as the workbook writes it is not XML text";
      }
    }
  }
  return WriteWorkbook(rows, kSheetRows) ? "" : "the workbook was not written";
}

// One input: a report file's name (UTF-8, up to the first LF) and its bytes, through the merger's reading,
// table, overview page and workbook, in memory. Returns what broke, or nothing.
std::string CheckMergeInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nameEnd = input.find('\n');
  const std::wstring fileName = Utf16Units(input.substr(0, nameEnd));
  const std::string bytes = nameEnd == std::string::npos ? "" : input.substr(nameEnd + 1);

  ReportName name;
  const NameReading nameReading = ParseReportName(fileName, name);
  // A reader per code page, made once, as the merger makes them.
  static std::map<unsigned, ReportReader> readers;
  static ReportReading reading;
  const ReportContent* content = nullptr;
  std::wstring text;
  const unsigned codePage = nameReading == NameReading::kReportName ? ReportCodePage(bytes) : 0;
  if (codePage != 0 && DecodeReportText(bytes, codePage, text)) {
    const auto read = [codePage](const wchar_t* literal) { return LiteralAsRead(codePage, literal); };
    readers.try_emplace(codePage, read).first->second.Read(text, reading);
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
    NotMergedFile& file = notMerged.emplace_back();
    file.path = fileName;
    file.reason = L"-";
  }
  merged.Order(false);
  std::vector<TableRow> rows;
  ForEachTableRow(merged, [&rows](const TableRow& row) { rows.push_back(row); });
  if (std::string fault = CheckPage(OverviewPage(merged, notMerged, L"2020-01-01")); !fault.empty()) {
    return fault;
  }
  return CheckWorkbook(rows);
}

}  // namespace

// libFuzzer's entry: a broken invariant is a crash, with what broke on stderr.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const std::string fault = CheckMergeInput(data, size); !fault.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
