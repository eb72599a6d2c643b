#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "merge/writing/merged_table.h"
#include "merge/writing/zip_writer.h"

// The workbook's path beside the table's: the table's name with its extension replaced by ".xlsx".
std::wstring WorkbookPath(const std::wstring& tablePath);

// The most rows that one sheet of a workbook holds, its header row included.
constexpr std::size_t kMaxSheetRows = 1048576;

// The table as an Office Open XML workbook (NAME.xlsx), written whole or not at all, a row at a time: each
// row's sheet XML is deflated as it comes, so the sheet never stands whole in memory. The sheet "USB
// 裝置記錄" holds the header (bold, frozen, under an autofilter over every row) and the rows in the order
// given; rows beyond `maxSheetRows` continue on "USB 裝置記錄 (2)" and so on, each with the header. The
// report time and the two uses are date-time cells (the serial number of the time as the table gives it,
// local time), empty when the table's cell is; every other cell is a text cell with exactly the table's text,
// in the Text number format, on a sheet that tells Excel not to flag numbers stored as text. Cells refer to
// a table of shared texts, each distinct text once, as Excel writes them (readers that take inline text
// apart from it differ most); the table holds views of the rows' texts and is written after the sheets.
// The same rows give the same bytes.
class TableWorkbook {
 public:
  explicit TableWorkbook(const std::wstring& path, std::size_t maxSheetRows = kMaxSheetRows);
  TableWorkbook(const TableWorkbook&) = delete;
  TableWorkbook& operator=(const TableWorkbook&) = delete;

  // The texts of `cells` must stay valid until Commit: the shared texts are views of them.
  bool AddRow(const TableRow& cells);
  // Ends the last sheet, writes the workbook's other parts and renames the file to its final name.
  bool Commit();

 private:
  void BeginSheet();
  void EndSheet();
  void AppendRow(const TableRow& cells, bool header);
  void WriteSharedTexts();
  // Hands what `xml_` holds to the ZIP once it is large enough, or with `all`, whatever it holds.
  void Flush(bool all);

  ZipWriter zip_;
  std::size_t maxSheetRows_;
  std::size_t sheets_;
  std::size_t sheetRows_;  // rows of the current sheet so far, its header included
  TextIndex sharedTexts_;  // a text's place in the shared texts is its id less one
  std::uint64_t textCells_;
  // Per column, the last cell of a row written and its XML after the cell's reference. The rows of one
  // report give their computer, user, report time, kind and file as the very same views (whose texts stay
  // as they are until Commit), so such a cell is written again without being looked up or converted.
  struct LastCell {
    const wchar_t* data = nullptr;
    std::size_t size = 0;
    bool text = false;  // a shared-text cell rather than a time
    std::string rest;
  };
  std::array<LastCell, kTableColumnCount> lastCells_;
  std::string xml_;
  bool ok_;
};

// A date-time cell's value: the serial number (days since 1899-12-30, the day's fraction after the point)
// of table time text, "YYYY-MM-DD hh:mm" or "YYYY-MM-DD hh:mm:ss". False for anything else, and for a
// time before 1900-03-01 (spreadsheets count the days before it differently, so it would not read back
// the same everywhere) or after 9999-12-31: those stay text.
bool SpreadsheetTime(std::wstring_view text, std::string& serial);

// Appends `text` as UTF-8 XML character data that reads back as exactly `text`: '&', '<' and '>' as
// references; the units that XML cannot carry (C0 controls but tab and LF, U+FFFE, U+FFFF, lone
// surrogates) and CR (which XML would read as LF) as the format's escape "_xHHHH_"; and a '_' that begins,
// as written, "_x" with one to four hex digits and '_' as "_x005F_" (the escaped '_'), so that no reader
// finds an escape that the text does not hold: Excel decodes the four-digit form, LibreOffice shorter
// ones too. Every text reaches the workbook through here.
void AppendCellText(std::wstring_view text, std::string& xml);
