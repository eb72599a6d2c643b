// The merger's command: its arguments, and a whole merge with each of its allocations failing in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "merge/merge_command.h"
#include "merge/writing/overview_page.h"
#include "merge/writing/workbook.h"
#include "tests/unit/failing_allocations.h"
#include "tests/unit/file_bytes.h"

namespace {

using failing_allocations::ArmThrowing;

// Fails each allocation of a whole merge in turn (finding the files, reading them, the summary, the table,
// the page, the workbook): the merge either succeeds as it does with memory to spare or ends with exit code
// 2 and a line that says why; whatever output exists is the whole one, no partial file is left, and the
// merge frees all it allocated. A page or a workbook that runs out of memory fails alone: what was written
// before it stays.
TEST(Merge, EveryFailedAllocationEndsTheMergeCleanly) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "merge_memory";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "reports");
  std::ofstream(folder / "reports" / "202601020304-jdoe-PC-01.txt", std::ios::binary)
      << u8"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n"
         u8"驅動程式: Disk&Ven_A&Prod_B&Rev_1\r\n裝置名稱: A B USB Device\r\n裝置種類: Disk drive\r\n"
         u8"首次使用: 2024/02/29  07:08:09\r\n最後使用: \r\n\r\n以下為不完整記錄:\r\n\r\n"
         u8"裝置名稱: Disk&Ven_C&Prod_D&Rev_2\r\n最後使用: 2024/05/06  07:08:09\r\n\r\n";
  std::ofstream(folder / "reports" / "202601020305-jdoe-PC-02.txt", std::ios::binary)
      << u8"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n以下為不完整記錄:\r\n\r\n"
         u8"裝置名稱: Disk&Ven_C&Prod_D&Rev_2\r\n最後使用: 2023/02/29  07:08:09\r\n\r\n";
  const std::filesystem::path outputs[] = {folder / "merged.csv", folder / "merged.html",
                                           folder / "merged.xlsx"};
  MergeOptions options;
  options.inputs = {(folder / "reports").wstring()};
  options.output = outputs[0].wstring();
  const std::wstring failures[] = {
      L"記憶體不足，合併中止：未寫完的表格、概況頁或活頁簿都已刪除，已寫出的仍保留。",
      L"無法寫出概況頁（表格已寫出）：" + outputs[1].wstring(),
      L"無法寫出活頁簿（表格與概況頁已寫出）：" + outputs[2].wstring()};
  std::vector<std::wstring> said;
  said.reserve(64);  // so that the lines said are the only blocks that a merge leaves allocated
  const auto Merge = [&](long failing) {
    for (const std::filesystem::path& output : outputs) {
      std::filesystem::remove(output);
    }
    said.clear();
    const long liveBlocks = failing_allocations::live_blocks;
    ArmThrowing(failing);
    const int exitCode = MergeReports(options, [&said](const std::wstring& line) { said.push_back(line); });
    const long allocations = failing_allocations::throwing_calls;
    ArmThrowing(0);
    EXPECT_EQ(failing_allocations::live_blocks, liveBlocks + static_cast<long>(said.size()))
        << failing << ": memory left allocated";
    return std::make_pair(exitCode, allocations);
  };
  const auto [spareExit, allocations] = Merge(0);
  ASSERT_EQ(spareExit, kMergeSomeNotMerged);
  const std::vector<std::wstring> spareSaid = said;
  std::vector<std::string> whole;
  for (const std::filesystem::path& output : outputs) {
    whole.push_back(ReadBytes(output));
  }
  std::vector<std::wstring> failuresSaid;
  for (long failing = 1; failing <= allocations; ++failing) {
    const int exitCode = Merge(failing).first;
    if (exitCode == kMergeFailed) {
      ASSERT_FALSE(said.empty()) << failing;
      const auto failure = std::find(std::begin(failures), std::end(failures), said.back());
      EXPECT_NE(failure, std::end(failures)) << failing;
      failuresSaid.push_back(said.back());
      // The page's failure keeps the table, the workbook's the table and the page.
      for (auto kept = std::begin(failures) + 1; kept <= failure && kept != std::end(failures); ++kept) {
        EXPECT_TRUE(std::filesystem::exists(outputs[kept - std::begin(failures) - 1])) << failing;
      }
    } else {
      EXPECT_EQ(exitCode, spareExit) << failing;
      EXPECT_EQ(said, spareSaid) << failing;
    }
    for (std::size_t i = 0; i < std::size(outputs); ++i) {
      EXPECT_TRUE(!std::filesystem::exists(outputs[i]) || ReadBytes(outputs[i]) == whole[i])
          << failing << ": " << outputs[i];
    }
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
      EXPECT_NE(file.path().extension(), ".partial") << failing;
    }
  }
  // Memory ran out in every part of the merge, the page and the workbook included.
  for (const std::wstring& failure : failures) {
    EXPECT_NE(std::find(failuresSaid.begin(), failuresSaid.end(), failure), failuresSaid.end()) << failure;
  }
  std::filesystem::remove_all(folder);
}

// The page's and the workbook's names beside the table's, and an audit period on a leap day. (The merger's
// cases page_over_table, book_over_table and since_refused hold the names and periods refused.)
TEST(MergeArguments, PageNameAndAuditPeriod) {
  const struct {
    std::vector<std::wstring> arguments;
    const wchar_t* page = L"";  // of the -o name
    const wchar_t* book = L"";
  } cases[] = {
      {{L"-o", L"audit", L"r"}, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"v1.2\\audit", L"r"}, L"v1.2\\audit.html", L"v1.2\\audit.xlsx"},
      {{L"-o", L"a.b.csv", L"r"}, L"a.b.html", L"a.b.xlsx"},
      {{L"-o", L"audit.htm", L"r"}, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"audit.xls", L"r"}, L"audit.html", L"audit.xlsx"},
      {{L"--since", L"2024-02-29", L"r"}},
      {{L"--since", L"2000-02-29", L"r"}},
  };
  for (const auto& c : cases) {
    MergeOptions options;
    std::wstring error;
    const std::wstring named = c.arguments[0] + L" " + c.arguments[1];
    ASSERT_TRUE(ReadMergeArguments(c.arguments, options, error)) << named;
    EXPECT_EQ(error, L"") << named;
    if (!options.output.empty()) {
      EXPECT_EQ(OverviewPagePath(options.output), c.page) << named;
      EXPECT_EQ(WorkbookPath(options.output), c.book) << named;
    }
  }
}

}  // namespace
