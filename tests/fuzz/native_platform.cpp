// What the merger takes from Win32, natively: UTF-8 (strict, as MB_ERR_INVALID_CHARS decodes) and code page
// 1252 (where the Chinese labels read as '?'), the one multi-byte and the one single-byte way the reader
// reads; the East Asian code pages are seen only by the merger's cases under Wine. Files are read, not kept.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "merge/report_files.h"
#include "merge/writing/workbook.h"
#include "report/report_format.h"
#include "tests/fuzz/merge_input_check.h"

namespace {

constexpr unsigned kUtf8 = 65001, kWestern = 1252;

// Code page 1252's bytes 0x80 to 0x9F; the five it leaves undefined decode to the C1 control of their value.
constexpr char16_t kWestern80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                     0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

// A report's first line is its header, as the code page reads it.
unsigned ReportCodePage(const std::string& bytes) {
  const std::string firstLine = bytes.substr(0, bytes.find("\r\n"));
  for (const unsigned codePage : {kUtf8, kWestern}) {
    std::wstring text;
    if (DecodeReportText(firstLine, codePage, text) && text == LiteralAsRead(codePage, kReportHeader)) {
      return codePage;
    }
  }
  return 0;
}

bool DecodeReportText(const std::string& bytes, unsigned codePage, std::wstring& text) {
  text.clear();
  if (std::memchr(bytes.data(), '\0', bytes.size())) {
    return false;
  }
  if (codePage == kUtf8) {
    bool invalid = false;
    text = Utf16Units(bytes, &invalid);
    return !invalid;
  }
  for (const char byte : bytes) {
    const unsigned char unit = static_cast<unsigned char>(byte);
    text += unit >= 0x80 && unit < 0xA0 ? static_cast<wchar_t>(kWestern80[unit - 0x80])
                                        : static_cast<wchar_t>(unit);
  }
  return true;
}

std::wstring LiteralAsRead(unsigned codePage, const wchar_t* literal) {
  std::wstring text(literal);
  if (codePage == kWestern) {
    std::replace_if(
        text.begin(), text.end(), [](wchar_t unit) { return unit >= 0x80; }, L'?');
  }
  return text;
}

bool WriteWorkbook(const std::vector<TableRow>& rows, std::size_t maxSheetRows) {
  TableWorkbook workbook(L"book.xlsx", maxSheetRows);
  for (const TableRow& row : rows) {
    workbook.AddRow(row);
  }
  return workbook.Commit();
}

// The paths' functions that the fuzzed code links to but the harness never reaches.
std::wstring WithExtension(const std::wstring&, const wchar_t*) {
  std::abort();
}

WholeFileWriter::WholeFileWriter(const std::wstring& path)
    : path_(path), partialPath_(path + kPartialSuffix), file_(nullptr), failed_(false), committed_(false) {}

WholeFileWriter::~WholeFileWriter() = default;

bool WholeFileWriter::Write(std::string_view bytes) {
  static std::string written;
  written.assign(bytes);  // every byte read, where the sanitizers see it
  return !failed_;
}

bool WholeFileWriter::Commit() {
  return committed_ = !failed_;
}
