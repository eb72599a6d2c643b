#include "merge/merge_command.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <set>

#include "merge/reading/report_decoding.h"
#include "merge/reading/report_name.h"
#include "merge/reading/report_reader.h"
#include "merge/report_files.h"
#include "merge/writing/merged_table.h"
#include "merge/writing/overview_page.h"
#include "merge/writing/workbook.h"
#include "text/time_text.h"
#include "text/utf8.h"

namespace {

// The help before and after the list of the code pages in which reports are read.
constexpr wchar_t kHelpBeforeCodePages[] =
    L"vestigia-merge：把多台電腦的 USB 大量存取裝置使用記錄報告合併成一個 CSV 表格。\r\n"
    L"\r\n"
    L"用法：vestigia-merge [-o 輸出檔.csv] [--latest] [--since YYYY-MM-DD] 報告檔或資料夾 ...\r\n"
    L"\r\n"
    L"  報告檔或資料夾  要合併的報告（YYYYMMDDhhmm-使用者-電腦.txt）。資料夾連同其子資料夾一起搜尋，\r\n"
    L"                  只取檔名像報告的檔案。也可以把資料夾拖放到本程式的圖示上。\r\n"
    L"  -o 檔案         輸出的 CSV 檔。未指定時寫到第一個資料夾（沒有資料夾時為第一個檔案所在的\r\n"
    L"                  資料夾）中的 merged-YYYYMMDD-hhmmss.csv，並顯示其路徑。不可是要合併的檔案\r\n"
    L"                  （任何寫法都不行），以免取代它。\r\n"
    L"  --latest        每台電腦只取最新的報告。\r\n"
    L"  --since 日期    稽核期間的第一天（YYYY-MM-DD）：概況頁標出在這天或之後有使用記錄的電腦。\r\n"
    L"                  未指定時概況頁不標出任何電腦。\r\n"
    L"  --help          顯示這段說明。\r\n"
    L"\r\n"
    L"每份報告依其寫入時的字碼頁讀取（";
constexpr wchar_t kHelpAfterCodePages[] =
    L"），而且必須完整、只有一種讀法；\r\n"
    L"不符合的檔案不會合併，並列出原因與行號。表格為 UTF-8（含 BOM）的 CSV，每筆記錄一列，\r\n"
    L"依電腦、報告時間排序。表格寫完才會出現；同名的舊檔只會被完整的新表格取代。\r\n"
    L"\r\n"
    L"表格旁另寫一個概況頁：檔名同表格，副檔名換成 .html（-o audit.csv 得 audit.html；\r\n"
    L"因此 -o 不可用 .html 結尾）。頁中有電腦、報告與記錄的數目，每台電腦一列，使用時間軸，\r\n"
    L"裝置型號及用過的電腦，以及未合併的檔案；不含程式碼，也不連到外部，可離線開啟、寄送與列印。\r\n"
    L"\r\n"
    L"概況頁之後再寫一個活頁簿（Excel、LibreOffice 等試算表都能開啟）：檔名同表格，副檔名換成 .xlsx\r\n"
    L"（因此 -o 也不可用 .xlsx 結尾）。工作表「USB 裝置記錄」的欄與列同表格，標題列粗體、凍結，\r\n"
    L"可篩選；報告時間與使用時間是日期儲存格，其餘都是照錄原文的文字（1.00 仍是 1.00）。\r\n"
    L"超過 1,048,575 列時接續寫在「USB 裝置記錄 (2)」等工作表。\r\n"
    L"\r\n"
    L"結束代碼：0 全部合併；1 有檔案未合併（已列出）；2 沒有合併任何報告、參數錯誤、記憶體不足，\r\n"
    L"或未寫出表格、概況頁或活頁簿（已寫出的仍保留）。\r\n";

using Say = std::function<void(const std::wstring&)>;

constexpr wchar_t kOutputNameFormat[] = L"merged-%04d%02d%02d-%02d%02d%02d.csv";

template <typename... Numbers>
std::wstring Formatted(const wchar_t* format, Numbers... numbers) {
  wchar_t buffer[256] = {};
  std::swprintf(buffer, std::size(buffer), format, numbers...);
  return buffer;
}

// The code pages in which reports are read, in the order tried: "950、936、...".
std::wstring CodePageList() {
  std::wstring list;
  for (const unsigned codePage : kReportCodePages) {
    list += (list.empty() ? L"" : L"、") + std::to_wstring(codePage);
  }
  return list;
}

std::wstring ReasonFor(const ReportReading& reading) {
  switch (reading.outcome) {
    case ReportReading::kRead:
      break;
    case ReportReading::kNotAReport:
      return L"不是報告：第 1 行不是報告的標題";
    case ReportReading::kMisfit:
      return Formatted(L"第 %d 行不符合報告的格式", reading.line);
    case ReportReading::kIncomplete:
      return Formatted(L"報告不完整或格式不符：第 %d 行之後沒有完整的記錄", reading.line);
    case ReportReading::kAmbiguous:
      return Formatted(L"自第 %d 行起可有不只一種讀法，無法確定欄位", reading.line);
    case ReportReading::kTooLong:
      return Formatted(L"第 %d 行起的值長於 %d 個字元，程式寫出的報告不會有這樣的值", reading.line,
                       static_cast<int>(kMaxReportValueUnits));
    case ReportReading::kNoSuchTime:
      return Formatted(L"第 %d 行的時間不存在，程式寫出的報告不會有這樣的時間", reading.line);
  }
  return L"";
}

std::wstring FileNameOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/:");
  return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? L"." : path.substr(0, separator + 1);
}

std::wstring DefaultOutputPath(const std::wstring& folder) {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  wchar_t name[64] = {};
  std::swprintf(name, std::size(name), kOutputNameFormat, now.wYear, now.wMonth, now.wDay, now.wHour,
                now.wMinute, now.wSecond);
  return JoinPath(folder, name);
}

// What reading a file needs, reused from file to file so that reading allocates nothing per file.
struct ReadingSpace {
  const CodePageRecognizer recognizer;
  std::map<unsigned, std::unique_ptr<ReportReader>> readers;  // by code page, each made when first needed
  std::wstring text;
  ReportReading reading;
};

// Reads a report's time, user and computer from the file's name into `name`; where the name is not a
// report's, `reason` says why the file is not merged.
NameReading ReadReportName(const std::wstring& path, ReportName& name, std::wstring& reason) {
  const NameReading reading = ParseReportName(FileNameOf(path), name);
  switch (reading) {
    case NameReading::kReportName:
      break;
    case NameReading::kImpossibleTime:
      reason = L"檔名中的時間 " + name.time + L" 不存在，不是程式寫出的報告";
      break;
    case NameReading::kNotAReportName:
      reason = L"檔名不是報告的檔名（YYYYMMDDhhmm-使用者-電腦.txt）";
      break;
  }
  return reading;
}

// Reads one report file's bytes, as `files` hands them over, into `space.reading`; false with `reason` set
// when it is not merged.
bool ReadReport(FilesReadAhead& files, ReadingSpace& space, std::wstring& reason) {
  std::string_view bytes;
  switch (files.Next(bytes)) {
    case ReadOutcome::kRead:
      break;
    case ReadOutcome::kUnreadable:
      reason = L"無法讀取此檔案";
      return false;
    case ReadOutcome::kTooLarge:
      reason = L"檔案太大，不是報告";
      return false;
  }
  const unsigned codePage = space.recognizer.CodePageOf(bytes);
  if (codePage == 0) {
    reason = L"不是報告：第 1 行不是任何支援的字碼頁（" + CodePageList() + L"）中的報告標題";
    return false;
  }
  if (!DecodeReport(bytes, codePage, space.text)) {
    reason = Formatted(L"不是報告：含有在字碼頁 %d 中不是文字的位元組", static_cast<int>(codePage));
    return false;
  }
  std::unique_ptr<ReportReader>& reader = space.readers[codePage];
  if (!reader) {
    reader = std::make_unique<ReportReader>(
        [codePage](const wchar_t* literal) { return ReadBack(codePage, literal); });
  }
  reader->Read(space.text, space.reading);
  if (space.reading.outcome != ReportReading::kRead) {
    reason = ReasonFor(space.reading);
    return false;
  }
  return true;
}

// Builds the page and writes it into its partial file, which is renamed to the page only once the table
// has been written; null when the page cannot be built or written. The page is built first, whole, and
// freed before the table's rows are made, so the two never stand in memory together; running out of
// memory on the way fails the page alone.
std::unique_ptr<WholeFileWriter> WritePageToCommit(const std::wstring& path, const MergedReports& merged,
                                                   const std::vector<NotMergedFile>& notMerged,
                                                   const std::wstring& since) {
  try {
    std::string bytes;
    AppendUtf8(OverviewPage(merged, notMerged, since), bytes);
    auto writer = std::make_unique<WholeFileWriter>(path);
    return writer->Write(bytes) ? std::move(writer) : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Writes the table whole or not at all, streamed into its partial file in pieces as its rows are made:
// the text of the table never stands in memory whole. In the same pass, each row goes to `workbook`, if
// any, so that the workbook is deflated (on threads of its own) while the table is made; the workbook is
// left to be committed. A workbook that fails, or runs out of memory, is dropped, and fails alone.
bool WriteTable(const std::wstring& path, const MergedReports& merged,
                std::unique_ptr<TableWorkbook>& workbook) {
  static constexpr std::size_t kPieceUnits = 32768;
  WholeFileWriter writer(path);
  std::string bytes = "\xEF\xBB\xBF";
  std::wstring csv;
  AppendCsvRow(TableHeader(), csv);
  ForEachTableRow(merged, [&](const TableRow& row) {
    AppendCsvRow(row, csv);
    if (csv.size() >= kPieceUnits) {
      AppendUtf8(csv, bytes);
      csv.clear();
      writer.Write(bytes);
      bytes.clear();
    }
    try {
      if (workbook && !workbook->AddRow(row)) {
        workbook.reset();
      }
    } catch (const std::bad_alloc&) {
      workbook.reset();
    }
  });
  AppendUtf8(csv, bytes);
  return writer.Write(bytes) && writer.Commit();
}

// The first of the files that an output would replace, or null when none would: an output never replaces
// a file named for merging, however the two are spelled. Each file's identity costs opening it, so it is
// taken once, into `identities`, when the first output that exists needs it (a merge run again under the
// same -o finds its table, page and workbook there), and not at all when no output exists.
const std::wstring* FileThatOutputReplaces(const std::vector<std::wstring>& files,
                                           const std::vector<std::wstring>& keys,
                                           std::vector<FileIdentity>& identities,
                                           const FileIdentity& output) {
  if (output.Exists() && identities.size() != files.size()) {
    identities.clear();
    identities.reserve(files.size());
    for (const std::wstring& file : files) {
      identities.emplace_back(file);
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (output.Exists() ? output.SameFileAs(identities[i]) : keys[i] == output.FullPath()) {
      return &files[i];
    }
  }
  return nullptr;
}

// The workbook, written whole or not at all: WriteTable gives it the table's rows, then CommitWorkbook
// ends it. Running out of memory on the way (its shared texts grow with the distinct texts of the table)
// fails the workbook alone: null when there is no memory to begin it, false when it cannot be ended.
std::unique_ptr<TableWorkbook> StartWorkbook(const std::wstring& path) {
  try {
    return std::make_unique<TableWorkbook>(path);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool CommitWorkbook(std::unique_ptr<TableWorkbook> workbook) {
  try {
    return workbook && workbook->Commit();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

std::wstring MergeHelp() {
  return kHelpBeforeCodePages + CodePageList() + kHelpAfterCodePages;
}

bool ReadMergeArguments(const std::vector<std::wstring>& arguments, MergeOptions& options,
                        std::wstring& error) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      options.help = true;
    } else if (argument == L"--latest") {
      options.latestOnly = true;
    } else if (argument == L"-o") {
      if (i + 1 == arguments.size() || !options.output.empty()) {
        error = L"-o 之後要接一個輸出檔名，而且只能指定一次";
        return false;
      }
      options.output = arguments[++i];
    } else if (argument == L"--since") {
      if (i + 1 == arguments.size() || !options.since.empty() || !IsCalendarDay(arguments[i + 1])) {
        error = L"--since 之後要接稽核期間的第一天（YYYY-MM-DD，須為日曆上的日期），而且只能指定一次";
        return false;
      }
      options.since = arguments[++i];
    } else if (argument.size() > 1 && argument[0] == L'-') {
      error = L"不認得的選項：" + argument;
      return false;
    } else {
      options.inputs.push_back(argument);
    }
  }
  if (!options.output.empty() &&
      FileIdentity(OverviewPagePath(options.output)).SameFileAs(FileIdentity(options.output))) {
    error = L"-o 的檔名與概況頁的檔名（副檔名換成 .html）相同，請換一個檔名。";
    return false;
  }
  if (!options.output.empty() &&
      FileIdentity(WorkbookPath(options.output)).SameFileAs(FileIdentity(options.output))) {
    error = L"-o 的檔名與活頁簿的檔名（副檔名換成 .xlsx）相同，請換一個檔名。";
    return false;
  }
  if (!options.help && options.inputs.empty()) {
    error = L"沒有指定要合併的報告檔或資料夾";
    return false;
  }
  return true;
}

bool IsReportFileName(const std::wstring& fileName) {
  ReportName name;
  return ParseReportName(fileName, name) != NameReading::kNotAReportName;
}

namespace {

// What the inputs name: the files to merge, in the order found, and the inputs that cannot be merged.
struct InputFiles {
  std::vector<std::wstring> files;
  std::vector<NotMergedFile> notMerged;
  std::wstring outputFolder;  // where the table goes without -o: the first folder, or the first file's
};

InputFiles FindInputFiles(const std::vector<std::wstring>& inputs) {
  InputFiles found;
  std::vector<std::wstring> unlisted;
  std::wstring firstFolder, firstFileFolder;
  for (const std::wstring& input : inputs) {
    switch (KindOfPath(input)) {
      case PathKind::kFolder:
        firstFolder = firstFolder.empty() ? input : firstFolder;
        FindFiles(input, IsReportFileName, found.files, unlisted);
        break;
      case PathKind::kFile:
        firstFileFolder = firstFileFolder.empty() ? FolderOf(input) : firstFileFolder;
        found.files.push_back(input);
        break;
      case PathKind::kMissing:
        found.notMerged.push_back({input, L"找不到此檔案或資料夾"});
        break;
    }
  }
  for (const std::wstring& folder : unlisted) {
    found.notMerged.push_back({folder, L"無法列出此資料夾的內容"});
  }
  found.outputFolder = std::move(!firstFolder.empty() ? firstFolder : firstFileFolder);
  return found;
}

// Drops every later naming of a file already in `files` (a folder and a file in it, or two spellings of one
// path), so that each is read once. Returns the FullPathKey of each file kept, in the same order.
std::vector<std::wstring> KeepEachFileOnce(std::vector<std::wstring>& files) {
  std::vector<std::wstring> keys;
  std::set<std::wstring> seen;
  std::size_t kept = 0;
  for (std::wstring& file : files) {
    std::wstring key = FullPathKey(file);
    if (seen.insert(key).second) {
      keys.push_back(std::move(key));
      files[kept++].swap(file);
    }
  }
  files.resize(kept);
  return keys;
}

// The paths of the three outputs: the table's (-o, or a dated name in `folder`) and the page's and the
// workbook's beside it.
struct OutputPaths {
  std::wstring table, page, workbook;
};

OutputPaths OutputPathsFor(const std::wstring& output, const std::wstring& folder) {
  OutputPaths paths;
  paths.table = !output.empty() ? output : DefaultOutputPath(folder);
  paths.page = OverviewPagePath(paths.table);
  paths.workbook = WorkbookPath(paths.table);
  return paths;
}

// The first of the files that any output, or its partial file (each output is first written beside its
// name as NAME.partial), would replace; null when none would.
const std::wstring* FileThatAnOutputReplaces(const std::vector<std::wstring>& files,
                                             const std::vector<std::wstring>& keys,
                                             const OutputPaths& outputs) {
  std::vector<FileIdentity> identities;
  for (const std::wstring& name :
       {outputs.table, outputs.page, outputs.workbook, outputs.table + kPartialSuffix,
        outputs.page + kPartialSuffix, outputs.workbook + kPartialSuffix}) {
    if (const std::wstring* replaced = FileThatOutputReplaces(files, keys, identities, FileIdentity(name))) {
      return replaced;
    }
  }
  return nullptr;
}

// Reads every file into `merged`; adds each file not merged to `notMerged`, and a note on each file whose
// name has two readings to `ambiguousNames`.
void ReadReports(const std::vector<std::wstring>& files, MergedReports& merged,
                 std::vector<NotMergedFile>& notMerged, std::vector<std::wstring>& ambiguousNames) {
  ReadingSpace space;
  ReportName name;
  std::wstring reason;
  // Only files named as reports are read; their names are read again, one at a time, as they are merged.
  std::vector<const std::wstring*> reports;
  for (const std::wstring& file : files) {
    if (ParseReportName(FileNameOf(file), name) == NameReading::kReportName) {
      reports.push_back(&file);
    }
  }
  FilesReadAhead reportBytes(reports, kMaxReportBytes);
  for (const std::wstring& file : files) {
    if (ReadReportName(file, name, reason) != NameReading::kReportName ||
        !ReadReport(reportBytes, space, reason)) {
      notMerged.push_back({file, reason});
      continue;
    }
    if (!name.otherComputer.empty()) {
      ambiguousNames.push_back(file + L"：電腦名稱讀為「" + name.computer + L"」，也可能是「" +
                               name.otherComputer + L"」");
    }
    merged.Add(file, name, space.reading.content);
  }
}

// Puts both lists in path order, so that the summary and the page do not depend on the order in which
// folders list files.
void SortByPath(std::vector<NotMergedFile>& notMerged, std::vector<std::wstring>& ambiguousNames) {
  std::sort(notMerged.begin(), notMerged.end(),
            [](const NotMergedFile& a, const NotMergedFile& b) { return a.path < b.path; });
  std::sort(ambiguousNames.begin(), ambiguousNames.end());
}

void SayFilesNotMerged(const std::vector<NotMergedFile>& notMerged,
                       const std::vector<std::wstring>& ambiguousNames, const Say& say) {
  if (!notMerged.empty()) {
    say(Formatted(L"未合併 %d 個檔案：", static_cast<int>(notMerged.size())));
    for (const NotMergedFile& file : notMerged) {
      say(L"  " + file.path + L"：" + file.reason);
    }
  }
  if (!ambiguousNames.empty()) {
    say(L"檔名有兩種讀法，請核對：");
    for (const std::wstring& note : ambiguousNames) {
      say(L"  " + note);
    }
  }
}

// The summary's line on the table: how many reports were read, how many the table takes (with --latest)
// and its rows (one per record, one for a report without any), and where it is.
std::wstring TableWrittenLine(std::size_t readCount, const MergedReports& merged, bool latestOnly,
                              const std::wstring& table) {
  std::size_t rows = 0;
  for (const MergedReport& report : merged.Reports()) {
    rows += report.recordCount == 0 ? 1 : report.recordCount;
  }
  return Formatted(L"已合併 %d 份報告。", static_cast<int>(readCount)) +
         (latestOnly
              ? Formatted(L"表格取每台電腦最新的報告，共 %d 份、", static_cast<int>(merged.Reports().size()))
              : std::wstring(L"表格共 ")) +
         Formatted(L"%d 列：", static_cast<int>(rows)) + table;
}

// Writes the table, then the page, then the workbook, saying each one written (the table with the counts:
// `readCount` reports read); stops at the first that cannot be written, saying so.
bool WriteOutputs(const OutputPaths& outputs, const MergedReports& merged, std::size_t readCount,
                  const std::vector<NotMergedFile>& notMerged, const MergeOptions& options, const Say& say) {
  // Both outcomes' lines are made before the page, so that saying either needs no memory that the page may
  // have used up.
  const std::wstring pageWritten = L"概況頁：" + outputs.page,
                     pageNotWritten = L"無法寫出概況頁（表格已寫出）：" + outputs.page,
                     workbookWritten = L"活頁簿：" + outputs.workbook,
                     workbookNotWritten = L"無法寫出活頁簿（表格與概況頁已寫出）：" + outputs.workbook;
  std::unique_ptr<WholeFileWriter> page = WritePageToCommit(outputs.page, merged, notMerged, options.since);
  std::unique_ptr<TableWorkbook> workbook = page ? StartWorkbook(outputs.workbook) : nullptr;
  if (!WriteTable(outputs.table, merged, workbook)) {
    say(L"無法寫出表格：" + outputs.table);
    return false;
  }
  say(TableWrittenLine(readCount, merged, options.latestOnly, outputs.table));
  if (!page || !page->Commit()) {
    say(pageNotWritten);
    return false;
  }
  say(pageWritten);
  if (!CommitWorkbook(std::move(workbook))) {
    say(workbookNotWritten);
    return false;
  }
  say(workbookWritten);
  return true;
}

// The merge itself; running out of memory anywhere in it throws std::bad_alloc out of it. Each list is
// released as soon as the steps after it no longer need it.
int MergeOrThrow(const MergeOptions& options, const Say& say) {
  InputFiles input = FindInputFiles(options.inputs);
  std::vector<std::wstring> keys = KeepEachFileOnce(input.files);
  const OutputPaths outputs = OutputPathsFor(options.output, input.outputFolder);
  if (const std::wstring* replaced = FileThatAnOutputReplaces(input.files, keys, outputs)) {
    say(L"輸出檔會取代要合併的檔案 " + *replaced + L"，請用 -o 指定另一個檔名。");
    return kMergeFailed;
  }
  keys = std::vector<std::wstring>();

  MergedReports merged;
  std::vector<std::wstring> ambiguousNames;
  ReadReports(input.files, merged, input.notMerged, ambiguousNames);
  input.files = std::vector<std::wstring>();

  SortByPath(input.notMerged, ambiguousNames);
  SayFilesNotMerged(input.notMerged, ambiguousNames, say);
  if (merged.Reports().empty()) {
    say(L"沒有合併任何報告，未寫出表格。");
    return kMergeFailed;
  }
  const std::size_t readCount = merged.Reports().size();
  merged.Order(options.latestOnly);
  if (!WriteOutputs(outputs, merged, readCount, input.notMerged, options, say)) {
    return kMergeFailed;
  }
  return input.notMerged.empty() ? kMergeAllMerged : kMergeSomeNotMerged;
}

}  // namespace

int MergeReports(const MergeOptions& options, const std::function<void(const std::wstring&)>& say) {
  try {
    return MergeOrThrow(options, say);
  } catch (const std::bad_alloc&) {
    // Unwinding has freed what the merge held and deleted the partial file of any output being written;
    // the outputs already written are whole and stay. Saying so needs a little memory, which is likely
    // free again now; where it is not, the exit code alone tells.
    try {
      say(L"記憶體不足，合併中止：未寫完的表格、概況頁或活頁簿都已刪除，已寫出的仍保留。");
    } catch (const std::bad_alloc&) {
    }
    return kMergeFailed;
  }
}
