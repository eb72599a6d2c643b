#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "merge/not_merged_file.h"
#include "merge/writing/merged_table.h"

// The overview page's path beside the table's: the table's name as Windows stores it (trailing blanks and
// dots dropped) with its extension (if any) replaced by ".html". The extension is what follows the last
// '.' of the file name, never of a folder.
std::wstring OverviewPagePath(const std::wstring& tablePath);

// The overview page of the reports as MergedReports::Order leaves them (by computer, report time and file):
// one self-contained HTML document (zh-Hant, UTF-8, style inline, inline SVG) with the counts, one row per
// computer, a timeline of first and last uses, the device models and the files not merged. `since` is
// the first day of the audit period ("YYYY-MM-DD"), or empty when none was given. Nothing in it runs or
// loads anything, and every text from a report or a file name goes through AppendEscapedText. The same
// reports in the same order give the same text: the page holds no time of its own making.
std::wstring OverviewPage(const MergedReports& merged, const std::vector<NotMergedFile>& notMerged,
                          const std::wstring& since);

// Appends `text` as HTML character data or attribute value: '&', '<', '>', '"' and '\'' as references;
// the C0 controls that HTML does not allow (all but tab, LF and CR) and DEL as their visible pictures
// (U+2400 on); the C1 controls (U+0080 to U+009F, which a code page 1252 report can hold) and the
// noncharacters U+FDD0 to U+FDEF, U+FFFE and U+FFFF, which no one can see, as U+FFFD. So any name shows
// as exactly its characters, or a visible stand-in for them, and can never become markup.
void AppendEscapedText(std::wstring_view text, std::wstring& html);
