#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/report_name.h"
#include "merge/report_reader.h"

// One report that was read whole: its file (as found), what its name says, its records in its own order.
struct MergedReport {
  std::wstring file;
  ReportName name;
  ReportContent content;
};

// Orders the reports by computer, report time and file, so that the same files give the same table
// whatever order they were found in. With `latestOnly`, keeps only each computer's newest reports (all
// of them when several share its newest minute).
void OrderReports(std::vector<MergedReport>& reports, bool latestOnly);

// The table's columns, in their order.
enum TableColumn {
  kComputerColumn,
  kUserColumn,
  kReportTimeColumn,  // "YYYY-MM-DD hh:mm"
  kKindColumn,
  kDeviceKeyColumn,
  kVendorColumn,
  kProductColumn,
  kRevisionColumn,
  kFriendlyNameColumn,
  kDescriptionColumn,
  kFirstUsedColumn,  // "YYYY-MM-DD hh:mm:ss" or empty, as the last use
  kLastUsedColumn,
  kFileColumn,
  kTableColumnCount
};
// A row's cells, views into the report and the header's texts, valid while they live.
using TableRow = std::array<std::wstring_view, kTableColumnCount>;

// The table's rows, which its CSV and its workbook both hold: the header row, then of each report one
// row per record, and one row of its own for a report without records, so that its computer is in the
// table too.
const TableRow& TableHeader();
void VisitTableRows(const MergedReport& report, const std::function<void(const TableRow&)>& visit);

// The table as CSV (RFC 4180, CR LF after every row). A cell that a spreadsheet would take for a formula
// (starting with '=', '+', '-', '@', a tab or a CR) is written after an apostrophe, so that it shows as
// text: device names are chosen by whoever builds the device.
void AppendCsvHeader(std::wstring& csv);
void AppendCsvRows(const MergedReport& report, std::wstring& csv);

// The parts of a device key name, "<type>&Ven_<vendor>&Prod_<product>&Rev_<revision>" in any ASCII letter
// case, or "<type>&Ven_<vendor>&Prod_<product>" (a UAS disk's key, with an empty revision); all empty
// unless the vendor and product markers stand exactly once, in that order, and the revision marker at
// most once, after them.
// The parts are views into the name, valid while it lives.
struct DeviceKeyParts {
  std::wstring_view vendor, product, revision;
};
DeviceKeyParts SplitDeviceKeyName(std::wstring_view name);
