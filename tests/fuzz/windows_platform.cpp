// The platform under the merger's input path in the replay under Wine: the product's own code-page
// recognition, decoding and file writing, with Windows' converter and real files.
#include <windows.h>

#include "merge/reading/report_decoding.h"
#include "merge/report_files.h"
#include "merge/writing/workbook.h"
#include "tests/fuzz/merge_input_check.h"

unsigned ReportCodePage(const std::string& bytes) {
  static const CodePageRecognizer recognizer;
  return recognizer.CodePageOf(bytes);
}

bool DecodeReportText(const std::string& bytes, unsigned codePage, std::wstring& text) {
  return DecodeReport(bytes, codePage, text);
}

std::wstring LiteralAsRead(unsigned codePage, const wchar_t* literal) {
  return ReadBack(codePage, literal);
}

std::string WorkbookBytes(const std::vector<TableRow>& rows, std::size_t maxSheetRows) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD units = GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring path =
      JoinPath(units > 0 && units <= MAX_PATH ? folder : L".", L"vestigia-replay-book.xlsx");
  std::string bytes;
  {
    TableWorkbook workbook(path, maxSheetRows);
    for (const TableRow& row : rows) {
      workbook.AddRow(row);
    }
    if (!workbook.Commit() || ReadWholeFile(path, 1 << 30, bytes) != ReadOutcome::kRead) {
      bytes.clear();
    }
  }
  DeleteFileW(path.c_str());
  return bytes;
}
