#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "report/report_file.h"
#include "support/report_files.h"

namespace {

// Wine starts its shell process, explorer.exe, with the desktop on the first call that needs one, and
// ends it shortly after the last process on the desktop is gone; on Windows it runs all session long.
// Asking for the desktop window starts it, and this process then keeps it alive while the tests run.
class ShellSession : public testing::Environment {
 public:
  void SetUp() override { GetDesktopWindow(); }
};
testing::Environment* const kShellSession = testing::AddGlobalTestEnvironment(new ShellSession);

constexpr wchar_t kEmptyReport[] = L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n以下為不完整記錄:\r\n\r\n";

SYSTEMTIME Time(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  return {year, month, 0, day, hour, minute, 0, 0};
}

std::wstring UserName() {
  wchar_t name[256] = {};
  DWORD units = 256;
  GetUserNameW(name, &units);
  return name;
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD units = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(name, &units);
  return name;
}

std::wstring ExpectedPath(const SYSTEMTIME& time) {
  wchar_t path[ReportFile::kPathUnits];
  ReportFile::FormatPath(path, DesktopFolder().c_str(), time, UserName().c_str(), ComputerName().c_str());
  return path;
}

// Creates the report file, writes `text` in `codePage`, closes it and returns what the file holds; the
// file is deleted again.
std::string WriteReport(const wchar_t* text, UINT codePage) {
  ReportFile file;
  EXPECT_TRUE(file.Create());
  EXPECT_TRUE(file.Write(text, codePage));
  file.Close();
  const std::wstring path = file.Path();
  std::string bytes = ReadBytes(path);
  DeleteFileW(path.c_str());
  return bytes;
}

// The conversion the file once used: an output buffer of two bytes per UTF-16 unit. Empty when the
// conversion failed for want of room.
std::string FixedBufferConversion(const wchar_t* text, UINT codePage) {
  const int units = static_cast<int>(std::wcslen(text));
  std::string buffer(2 * units, '\0');
  if (!WideCharToMultiByte(codePage, 0, text, -1, &buffer[0], 2 * units, nullptr, nullptr)) {
    return std::string();
  }
  return std::string(buffer.c_str());
}

// The values of the next handles the process would get. New handles take the lowest free slots, so a
// handle left open changes them (GetProcessHandleCount is no help: this platform answers 0).
std::vector<HANDLE> LowestFreeHandleSlots() {
  std::vector<HANDLE> events;
  for (int i = 0; i < 16; ++i) {
    events.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  }
  for (HANDLE event : events) {
    CloseHandle(event);
  }
  return events;
}

TEST(ReportFileTest, FormatPathZeroFillsEveryFieldAndInsertsNamesAsTheyAre) {
  struct Case {
    const wchar_t* folder;
    SYSTEMTIME time;
    const wchar_t* user;
    const wchar_t* computer;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"C:\\users\\Public\\Desktop", Time(2006, 1, 1, 9, 5), L"root", L"HOST",
       L"C:\\users\\Public\\Desktop\\200601010905-root-HOST.txt"},
      {L"C:\\", Time(2005, 3, 5, 14, 7), L"Unknown", L"Unknown", L"C:\\\\200503051407-Unknown-Unknown.txt"},
      {L"D:\\Desk", Time(999, 12, 31, 23, 59), L"王小明", L"PC-01",
       L"D:\\Desk\\099912312359-王小明-PC-01.txt"},
      {L"E:", Time(2024, 10, 9, 0, 0), L"a:b", L"C\\D", L"E:\\202410090000-a:b-C\\D.txt"},
  };
  for (const Case& c : cases) {
    wchar_t path[ReportFile::kPathUnits];
    EXPECT_TRUE(ReportFile::FormatPath(path, c.folder, c.time, c.user, c.computer));
    EXPECT_STREQ(c.expected, path);
  }
}

TEST(ReportFileTest, FormatPathStopsAtTheBufferAndKeepsTheCutPathTerminated) {
  const std::wstring tail = L"\\200601010905-u-C.txt";
  const std::wstring exact(ReportFile::kPathUnits - 1 - tail.size(), L'x');
  wchar_t path[ReportFile::kPathUnits];
  EXPECT_TRUE(ReportFile::FormatPath(path, exact.c_str(), Time(2006, 1, 1, 9, 5), L"u", L"C"));
  EXPECT_EQ(exact + tail, path);

  const std::wstring longer = exact + L"y";
  std::fill(path, path + ReportFile::kPathUnits, L'#');
  EXPECT_FALSE(ReportFile::FormatPath(path, longer.c_str(), Time(2006, 1, 1, 9, 5), L"u", L"C"));
  EXPECT_EQ(L'\0', path[ReportFile::kPathUnits - 1]);
  EXPECT_EQ((longer + tail).substr(0, ReportFile::kPathUnits - 1), path);
}

TEST(ReportFileTest, PathNamesTheDesktopTheMinuteTheShellUserAndTheComputer) {
  ReportFile file;
  EXPECT_STREQ(L"", file.Path());
  SYSTEMTIME before;
  GetLocalTime(&before);
  EXPECT_TRUE(file.BuildPath());
  SYSTEMTIME after;
  GetLocalTime(&after);
  const std::wstring path = file.Path();
  EXPECT_TRUE(path == ExpectedPath(before) || path == ExpectedPath(after))
      << "path: " << testing::PrintToString(path);

  EXPECT_EQ(L"C:\\users\\Public\\Desktop", DesktopFolder());
}

TEST(ReportFileTest, ShellUserIsTheExplorerTokenUserAndEveryHandleIsClosed) {
  HANDLE shell = ReportFile::FindShellProcess();
  ASSERT_NE(nullptr, shell);
  wchar_t image[MAX_PATH] = {};
  DWORD units = MAX_PATH;
  EXPECT_TRUE(QueryFullProcessImageNameW(shell, 0, image, &units));
  const std::wstring imageName = image;
  const std::wstring fileName = imageName.substr(imageName.find_last_of(L'\\') + 1);
  EXPECT_EQ(0, _wcsicmp(fileName.c_str(), L"explorer.exe"))
      << "shell image: " << testing::PrintToString(imageName);
  CloseHandle(shell);

  wchar_t name[ReportFile::kAccountNameUnits];
  ReportFile::GetShellUserName(name);
  const std::vector<HANDLE> freeSlotsBefore = LowestFreeHandleSlots();
  for (int round = 0; round < 3; ++round) {
    std::fill(name, name + ReportFile::kAccountNameUnits, L'#');
    ReportFile::GetShellUserName(name);
    EXPECT_EQ(UserName(), name);
  }
  EXPECT_EQ(freeSlotsBefore, LowestFreeHandleSlots()) << "a handle was left open";
}

TEST(ReportFileTest, ACreationThatFailsWritesNothingAndClosesToNoHandle) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    ReportFile file;
    ASSERT_TRUE(file.BuildPath());
    const std::wstring blocked = file.Path();
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    const bool created = file.Create();
    const bool written = file.Write(kEmptyReport);
    const bool sameMinute = blocked == file.Path();
    if (sameMinute) {
      EXPECT_FALSE(created);
      EXPECT_FALSE(written);
      EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    }
    file.Close();
    EXPECT_EQ(nullptr, file.Handle());
    if (!sameMinute) {
      DeleteFileW(file.Path());
    }
    EXPECT_TRUE(RemoveDirectoryW(blocked.c_str()));
    if (sameMinute) {
      return;
    }
  }
  FAIL() << "the minute changed during the creation three times";
}

TEST(ReportFileTest, WriteWithoutAFileFailsAndCloseIsHarmless) {
  ReportFile file;
  EXPECT_FALSE(file.Write(kEmptyReport));
  file.Close();
  file.Close();
  EXPECT_EQ(nullptr, file.Handle());
}

// The converter is asked for the size it needs, so these code pages give what a buffer of two bytes per
// unit gave, and an empty text writes nothing.
TEST(ReportFileTest, DoubleByteAndWesternOutputIsWhatTheFixedBufferGave) {
  const wchar_t* const texts[] = {
      L"",
      kEmptyReport,
      L"驅動程式: Disk&Ven_SanDisk&Prod_Cruzer\r\n裝置名稱: USB 隨身碟\r\n首次使用: 2024/05/06  07:08:09\r\n",
      L"ｶﾀｶﾅ ひらがな 漢字 € © Ω ß é ☃ 한국어 العربية 𠀋 \x00A0 tab\there\r\n",
  };
  ASSERT_EQ(950u, GetACP());
  for (UINT codePage : {static_cast<UINT>(CP_ACP), 950u, 932u, 1252u}) {
    for (const wchar_t* text : texts) {
      const std::string expected = FixedBufferConversion(text, codePage);
      ASSERT_EQ(expected.empty(), *text == L'\0');
      EXPECT_EQ(expected, WriteReport(text, codePage)) << "code page " << codePage;
    }
  }
}

TEST(ReportFileTest, AUtf8ReportNeedingMoreThanTwoBytesPerUnitIsWrittenWhole) {
  std::wstring text;
  for (int i = 0; i < 200000; ++i) {
    text += static_cast<wchar_t>(0x4E00 + i % 0x5000);
    if (i % 1000 == 999) {
      text += L"\r\n\xD840\xDC0B";
    }
  }
  ASSERT_TRUE(FixedBufferConversion(text.c_str(), CP_UTF8).empty());
  const std::string expected = Converted(text.c_str(), CP_UTF8);
  ASSERT_GT(expected.size(), 2 * text.size());
  EXPECT_TRUE(expected == WriteReport(text.c_str(), CP_UTF8));
}

}  // namespace
