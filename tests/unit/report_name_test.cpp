// The rules by which the merger reads a report's file name and its times, on names and texts that the
// merger's cases do not hold: every other reading of the name, and every near miss of the formats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "merge/merge_command.h"
#include "merge/reading/report_name.h"
#include "merge/reading/report_reader.h"
#include "merge/writing/merged_table.h"
#include "merge/writing/overview_page.h"
#include "merge/writing/workbook.h"

namespace {

TEST(ReportName, ComputerIsTheLongestNameAfterADash) {
  const struct {
    const wchar_t* fileName;
    const wchar_t* user;  // null: not a report's name
    const wchar_t* computer = nullptr;
    const wchar_t* otherComputer = nullptr;
  } cases[] = {
      {L"202601020304-jdoe-DESKTOP-AB12CD3.txt", L"jdoe", L"DESKTOP-AB12CD3", L""},
      {L"202601020304-svc-x-PC01.TXT", L"svc-x", L"PC01", L""},
      {L"202601020304-ADMIN-PC-01.txt", L"ADMIN", L"PC-01", L"01"},
      {L"202601020304-ADMIN-A-B-C.txt", L"ADMIN", L"A-B-C", L"B-C"},
      {L"202601020304-王小明-會計-01.txt", L"王小明", L"會計-01", L"01"},
      {L"202601020304-a-ABCDEFGHIJKLMNOP.txt", nullptr},  // 16 units: no NetBIOS name
      {L"202601020304-a-pc01.txt", nullptr},              // a computer name in lower case
      {L"202601020304--PC01.txt", nullptr},               // no user
      {L"202601020304-a-.txt", nullptr},
      {L"20260102030-a-PC.txt", nullptr},
      {L"202601020304_a-PC.txt", nullptr},
      {L"202601020304-a-PC.csv", nullptr},
  };
  for (const auto& c : cases) {
    ReportName name;
    ASSERT_EQ(ParseReportName(c.fileName, name) == NameReading::kReportName, c.user != nullptr) << c.fileName;
    if (c.user) {
      EXPECT_EQ(name.user, c.user) << c.fileName;
      EXPECT_EQ(name.computer, c.computer) << c.fileName;
      EXPECT_EQ(name.otherComputer, c.otherComputer) << c.fileName;
      EXPECT_EQ(name.time, L"2026-01-02 03:04") << c.fileName;
    }
  }
}

// A name of a report's form whose time no clock shows is told apart from a name of any other form, so that
// the merger can say why it does not merge the file.
TEST(ReportName, TimeIsALocalMinute) {
  constexpr NameReading kReport = NameReading::kReportName, kImpossible = NameReading::kImpossibleTime;
  const struct {
    const wchar_t* fileName;
    NameReading reading;
    const wchar_t* time;
  } cases[] = {
      {L"202402291200-a-PC.txt", kReport, L"2024-02-29 12:00"},
      {L"200002290000-a-PC.txt", kReport, L"2000-02-29 00:00"},  // every 400 years a leap year
      {L"202312312359-a-PC.txt", kReport, L"2023-12-31 23:59"},
      {L"202302291200-a-PC.txt", kImpossible, L"2023-02-29 12:00"},
      {L"190002291200-a-PC.txt", kImpossible, L"1900-02-29 12:00"},  // no leap year
      {L"202313011200-a-PC.txt", kImpossible, L"2023-13-01 12:00"},
      {L"202301012400-a-PC.txt", kImpossible, L"2023-01-01 24:00"},
      {L"202301011260-a-PC.txt", kImpossible, L"2023-01-01 12:60"},
      {L"160101010000-a-PC.txt", kReport, L"1601-01-01 00:00"},  // the first year of Windows' clock
      {L"160012312359-a-PC.txt", kImpossible, L"1600-12-31 23:59"},
      {L"202302311200-a-pc.txt", NameReading::kNotAReportName, nullptr},  // and no computer name either
      {L"2023023112000-a-PC.txt", NameReading::kNotAReportName, nullptr},
  };
  for (const auto& c : cases) {
    ReportName name;
    ASSERT_EQ(ParseReportName(c.fileName, name), c.reading) << c.fileName;
    if (c.time) {
      EXPECT_EQ(name.time, c.time) << c.fileName;
    }
  }
  EXPECT_TRUE(IsReportFileName(L"202302311200-a-PC.txt"));
  EXPECT_FALSE(IsReportFileName(L"202302311200-a-pc.txt"));
}

// A time is read only in the exact form the program writes, whichever way the reader checks it; time text
// whose numbers name no moment of the clock refuses the report at its line, and anything else is no time.
TEST(ReportReader, TimeTextOnlyInTheProgramsOwnForm) {
  const ReportReader reader([](const wchar_t* literal) { return std::wstring(literal); });
  constexpr auto kImpossible = ReportReading::kNoSuchTime, kMisfit = ReportReading::kMisfit;
  const struct {
    const wchar_t* time;
    const wchar_t* read;  // the table's time; null when the report is refused at the time's line
    ReportReading::Outcome refused = ReportReading::kRead;
  } cases[] = {
      {L"2005/01/02  20:34:56", L"2005-01-02 20:34:56"}, {L"30827/12/31  23:59:59", L"30827-12-31 23:59:59"},
      {L"1601/01/01  00:00:00", L"1601-01-01 00:00:00"}, {L"2024/02/29  10:00:00", L"2024-02-29 10:00:00"},
      {L"2000/02/29  10:00:00", L"2000-02-29 10:00:00"}, {L"", L""},
      // Beside those in the merger's case impossible_times: the limits of each number.
      {L"30828/01/01  00:00:00", nullptr, kImpossible},  {L"999/01/02  20:34:56", nullptr, kImpossible},
      {L"2005/00/02  20:34:56", nullptr, kImpossible},   {L"2005/01/00  20:34:56", nullptr, kImpossible},
      {L"2005/01/02 20:34:56", nullptr, kMisfit},    // one blank
      {L"2005/1/02  20:34:56", nullptr, kMisfit},    // a month without its zero
      {L"02005/01/02  20:34:56", nullptr, kMisfit},  // a year with one
      {L"0999/01/02  20:34:56", nullptr, kMisfit},       {L"100000/01/01  00:00:00", nullptr, kMisfit},
      {L"2005/01/02  20:34:5x", nullptr, kMisfit},       {L"2005-01-02  20:34:56", nullptr, kMisfit},
  };
  for (const auto& c : cases) {
    ReportReading reading;
    reader.Read(std::wstring(L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n以下為不完整記錄:\r\n\r\n") +
                    L"裝置名稱: K\r\n最後使用: " + c.time + L"\r\n\r\n",
                reading);
    if (c.read) {
      ASSERT_EQ(reading.outcome, ReportReading::kRead) << c.time;
      ASSERT_EQ(reading.content.records.size(), 1u) << c.time;
      EXPECT_EQ(reading.content.Field(reading.content.records[0], ReportField::kLastUsed), c.read) << c.time;
    } else {
      EXPECT_EQ(reading.outcome, c.refused) << c.time;
      EXPECT_EQ(reading.line, 6) << c.time;
      EXPECT_TRUE(reading.content.records.empty()) << c.time;
    }
  }
}

// A value is read up to the longest that the program writes, over several lines too; a longer one, in any
// field, refuses the whole report at the line where the value begins.
TEST(ReportReader, NoValueLongerThanTheProgramWrites) {
  const ReportReader reader([](const wchar_t* literal) { return std::wstring(literal); });
  const std::wstring longest(kMaxReportValueUnits, L'n'), half(kMaxReportValueUnits / 2, L'n');
  const struct {
    std::wstring key, name, type;
    int tooLongAt;  // 0: read
  } cases[] = {
      {L"K", longest, L"T", 0},
      {L"K", longest + L"n", L"T", 4},
      {L"K", half + L"\r\n" + half.substr(1), L"T", 0},  // 511 + 2 + 510 units
      {L"K", half + L"\r\n" + half, L"T", 4},
      {longest + L"k", L"N", L"T", 3},
      {L"K", L"N", longest + L"t", 5},
  };
  for (const auto& c : cases) {
    ReportReading reading;
    reader.Read(std::wstring(kReportHeader) + L"\r\n\r\n" + kDriverLabel + c.key + L"\r\n" +
                    kDeviceNameLabel + c.name + L"\r\n" + kDeviceTypeLabel + c.type + L"\r\n" +
                    kFirstUsedLabel + L"\r\n" + kLastUsedLabel + L"\r\n\r\n" + kReportIncompleteHeader +
                    L"\r\n\r\n",
                reading);
    EXPECT_EQ(reading.outcome, c.tooLongAt ? ReportReading::kTooLong : ReportReading::kRead) << c.tooLongAt;
    if (c.tooLongAt) {
      EXPECT_EQ(reading.line, c.tooLongAt);
      EXPECT_TRUE(reading.content.records.empty());
    } else {
      ASSERT_EQ(reading.content.records.size(), 1u);
      EXPECT_EQ(reading.content.Field(reading.content.records[0], ReportField::kFriendlyName), c.name);
    }
  }
}

// Vendor, product and revision only where each marker stands once, in order, in any letter case; a name
// without a revision marker (a UAS disk's) gives an empty revision.
TEST(MergedTable, DeviceKeyNameParts) {
  const struct {
    const wchar_t* name;
    const wchar_t* parts;  // vendor|product|revision; all empty where the name does not split
  } cases[] = {
      {L"Disk&Ven_Kingston&Prod_DataTraveler_3.0&Rev_PMAP", L"Kingston|DataTraveler_3.0|PMAP"},
      {L"DISK&VEN_LEXAR&PROD_JUMPDRIVE&REV_1100", L"LEXAR|JUMPDRIVE|1100"},
      {L"Disk&Ven_&Prod_&Rev_", L"||"},
      {L"Disk&Ven_A&Ven_B&Prod_C&Rev_D", L"||"},
      {L"Disk&Prod_C&Ven_A&Rev_D", L"||"},
      {L"Disk&Ven_SanDisk&Prod_Extreme_SSD", L"SanDisk|Extreme_SSD|"},
      {L"DISK&VEN_SAMSUNG&PROD_PORTABLE_SSD_T5", L"SAMSUNG|PORTABLE_SSD_T5|"},
      {L"Disk&Prod_B&Ven_A", L"||"},
      {L"Disk&Ven_A&Prod_B&Prod_C", L"||"},
      {L"Disk&Ven_A&Prod_B&Rev_C&rev_D", L"||"},
  };
  for (const auto& c : cases) {
    const DeviceKeyParts parts = SplitDeviceKeyName(c.name);
    const std::wstring joined =
        std::wstring(parts.vendor) + L"|" + std::wstring(parts.product) + L"|" + std::wstring(parts.revision);
    EXPECT_EQ(joined, c.parts) << c.name;
  }
}

}  // namespace

// The page's and the workbook's names beside the table's, and the arguments that name either or the audit
// period wrongly.
TEST(MergeArguments, PageNameAndAuditPeriod) {
  const struct {
    std::vector<std::wstring> arguments;
    bool accepted;
    const wchar_t* page = L"";  // of the -o name, when accepted
    const wchar_t* book = L"";
  } cases[] = {
      {{L"-o", L"audit.csv", L"r"}, true, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"audit", L"r"}, true, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"v1.2\\audit", L"r"}, true, L"v1.2\\audit.html", L"v1.2\\audit.xlsx"},
      {{L"-o", L"a.b.csv", L"r"}, true, L"a.b.html", L"a.b.xlsx"},
      {{L"-o", L"audit.htm", L"r"}, true, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"audit.xls", L"r"}, true, L"audit.html", L"audit.xlsx"},
      {{L"-o", L"audit.html", L"r"}, false},
      {{L"-o", L"AUDIT.HTML", L"r"}, false},
      {{L"-o", L"audit.xlsx", L"r"}, false},
      {{L"-o", L"Audit.XLSX", L"r"}, false},
      {{L"--since", L"2024-02-29", L"r"}, true},
      {{L"--since", L"2000-02-29", L"r"}, true},
      {{L"--since", L"2023-02-29", L"r"}, false},
      {{L"--since", L"1900-02-29", L"r"}, false},
      {{L"--since", L"2024-04-31", L"r"}, false},
      {{L"--since", L"2024-13-01", L"r"}, false},
      {{L"--since", L"2024-00-10", L"r"}, false},
      {{L"--since", L"2024-1-01", L"r"}, false},
      {{L"--since", L"2024/01/01", L"r"}, false},
      {{L"--since", L"0000-01-01", L"r"}, false},
      {{L"--since", L"2024-01-01", L"--since", L"2024-01-02", L"r"}, false},
      {{L"r", L"--since"}, false},
  };
  for (const auto& c : cases) {
    MergeOptions options;
    std::wstring error;
    const std::wstring named = c.arguments[0] + L" " + c.arguments[1];
    ASSERT_EQ(ReadMergeArguments(c.arguments, options, error), c.accepted) << named;
    EXPECT_EQ(error.empty(), c.accepted) << named;
    if (c.accepted && !options.output.empty()) {
      EXPECT_EQ(OverviewPagePath(options.output), c.page) << named;
      EXPECT_EQ(WorkbookPath(options.output), c.book) << named;
    }
  }
}
