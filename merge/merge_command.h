#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report/report_format.h"

// The merger's exit codes: every file merged; some files not merged (they are listed); nothing merged,
// wrong arguments, memory run out, or no table or no page written.
constexpr int kMergeAllMerged = 0;
constexpr int kMergeSomeNotMerged = 1;
constexpr int kMergeFailed = 2;

struct MergeOptions {
  std::vector<std::wstring> inputs;  // report files and folders
  std::wstring output;               // empty: a dated CSV in the first folder, or the first file's folder
  std::wstring since;                // the audit period's first day, "YYYY-MM-DD"; empty when none
  bool latestOnly = false;
  bool help = false;
};

// Reads the arguments after the program's name. False, with `error` saying why, when they are wrong.
bool ReadMergeArguments(const std::vector<std::wstring>& arguments, MergeOptions& options,
                        std::wstring& error);

// What --help prints.
std::wstring MergeHelp();

// Whether a file found in a folder is taken for a report: its name has a report's form. One whose time
// cannot be is taken too, so that the summary names it among the files not merged, with the reason.
bool IsReportFileName(const std::wstring& fileName);

// The largest file read as a report: the program's report holds fewer than kReportTextUnits UTF-16 units,
// at most three bytes each.
constexpr std::size_t kMaxReportBytes = 3 * static_cast<std::size_t>(kReportTextUnits);

// Merges the reports that the inputs name into one CSV table, and beside it the overview page
// (merge/writing/overview_page.h) and the workbook (merge/writing/workbook.h), and tells `say`, line by
// line, what the user should read: each file not merged with the reason and the line, the counts, and the
// paths of the three outputs. Each output appears whole or not at all, in that order: the table, then the
// page, then the workbook; one that cannot be written leaves those before it in place, ends the run and
// fails it. Memory running out anywhere ends the run with a line saying so and kMergeFailed, no partial
// file left behind. Returns the exit code.
int MergeReports(const MergeOptions& options, const std::function<void(const std::wstring&)>& say);
