#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <set>
#include <string>

#include "history/device_history.h"
#include "report/report_file.h"
#include "support/alloc_hooks.h"

// After the store's header: the shell header defines `interface` as a macro.
#include <shlobj.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int);

namespace {

constexpr int kExitReported = 0;
constexpr int kExitNoMemory = 1;
constexpr int kExitReportNotSaved = 2;

std::wstring DesktopFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
  return folder;
}

// The names of the files and folders in the all-users desktop folder.
std::set<std::wstring> DesktopEntries() {
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((DesktopFolder() + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0) {
      names.insert(found.cFileName);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::set<std::wstring> Added(const std::set<std::wstring>& before) {
  std::set<std::wstring> added;
  for (const std::wstring& name : DesktopEntries()) {
    if (!before.count(name)) {
      added.insert(name);
    }
  }
  return added;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open the report file";
    return bytes;
  }
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  return bytes;
}

// What a run should write: this machine's store, composed and converted to the ANSI code page.
std::string ExpectedReport() {
  DeviceHistory* store = new DeviceHistory;
  std::wstring text(kReportTextUnits, L'\0');
  store->ComposeReport(&text[0]);
  store->Release();
  delete store;
  const int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(needed, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &bytes[0], needed, nullptr, nullptr);
  return bytes.c_str();
}

std::string Ansi(const wchar_t* text) {
  char bytes[256] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

int RunProgram(const wchar_t* commandLine = L"", int show = SW_SHOWDEFAULT) {
  std::wstring arguments = commandLine;
  return wWinMain(GetModuleHandleW(nullptr), nullptr, &arguments[0], show);
}

// The nothrow allocations of one completed run; the file it wrote is removed.
long CountRunAllocations() {
  const std::set<std::wstring> before = DesktopEntries();
  alloc_hooks::FailNthNothrow(0);
  EXPECT_EQ(kExitReported, RunProgram());
  const long calls = alloc_hooks::NothrowCalls();
  for (const std::wstring& name : Added(before)) {
    DeleteFileW((DesktopFolder() + L"\\" + name).c_str());
  }
  return calls;
}

TEST(RunTest, ACompletedRunWritesTheReportFileAndExitsZeroWhateverTheArguments) {
  const char* display = std::getenv("DISPLAY");
  ASSERT_TRUE(!display || !*display) << "with a display the message box would wait for a user";
  const std::string expected = ExpectedReport();
  ASSERT_EQ(0u, expected.find(Ansi(L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n")));
  ASSERT_NE(std::string::npos, expected.find(Ansi(L"以下為不完整記錄:\r\n\r\n")));

  struct Arguments {
    const wchar_t* commandLine;
    int show;
  };
  const Arguments cases[] = {{L"", SW_SHOWDEFAULT}, {L"/quiet --out=D:\\x.txt \"a b\"", SW_HIDE}};
  for (const Arguments& arguments : cases) {
    const std::set<std::wstring> before = DesktopEntries();
    const long liveBlocks = alloc_hooks::LiveBlocks();
    EXPECT_EQ(kExitReported, RunProgram(arguments.commandLine, arguments.show));
    EXPECT_EQ(liveBlocks, alloc_hooks::LiveBlocks()) << "the run left memory allocated";

    const std::set<std::wstring> added = Added(before);
    ASSERT_EQ(1u, added.size());
    const std::wstring name = *added.begin();
    EXPECT_EQ(12u, name.find(L'-'));
    EXPECT_EQ(12u, std::count_if(name.begin(), name.begin() + 12,
                                 [](wchar_t unit) { return std::iswdigit(unit); }));
    EXPECT_EQ(L".txt", name.substr(name.size() - 4));
    const std::wstring path = DesktopFolder() + L"\\" + name;
    EXPECT_EQ(expected, ReadBytes(path));
    EXPECT_TRUE(DeleteFileW(path.c_str()));
  }
}

TEST(RunTest, MissingMemoryForTheTextTheStoreOrTheFileEndsTheRunWithoutOutput) {
  // The text is the first allocation, the store the second; the report file is the one before the
  // conversion buffer, which is the last.
  const long allocations = CountRunAllocations();
  ASSERT_GE(allocations, 4);
  struct Case {
    const char* object;
    long allocation;
  };
  const Case cases[] = {{"text", 1}, {"store", 2}, {"report file", allocations - 1}};
  for (const Case& c : cases) {
    const std::set<std::wstring> before = DesktopEntries();
    const long liveBlocks = alloc_hooks::LiveBlocks();
    alloc_hooks::FailNthNothrow(c.allocation);
    EXPECT_EQ(kExitNoMemory, RunProgram()) << c.object;
    EXPECT_TRUE(alloc_hooks::FailureHappened()) << c.object;
    EXPECT_EQ(c.allocation, alloc_hooks::NothrowCalls()) << c.object << ": the run went on";
    alloc_hooks::FailNthNothrow(0);
    EXPECT_EQ(liveBlocks, alloc_hooks::LiveBlocks()) << c.object << ": memory left allocated";
    EXPECT_TRUE(Added(before).empty()) << c.object << ": a file was written";
  }
}

TEST(RunTest, AReportThatCannotBeConvertedIsAnnouncedAsNotSaved) {
  const long allocations = CountRunAllocations();
  const std::set<std::wstring> before = DesktopEntries();
  const long liveBlocks = alloc_hooks::LiveBlocks();
  alloc_hooks::FailNthNothrow(allocations);
  EXPECT_EQ(kExitReportNotSaved, RunProgram());
  EXPECT_TRUE(alloc_hooks::FailureHappened());
  alloc_hooks::FailNthNothrow(0);
  EXPECT_EQ(liveBlocks, alloc_hooks::LiveBlocks());
  for (const std::wstring& name : Added(before)) {
    const std::wstring path = DesktopFolder() + L"\\" + name;
    EXPECT_EQ("", ReadBytes(path));
    DeleteFileW(path.c_str());
  }
}

TEST(RunTest, AReportFileThatCannotBeCreatedIsAnnouncedAsNotSaved) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    ReportFile probe;
    ASSERT_TRUE(probe.BuildPath());
    const std::wstring blocked = probe.Path();
    ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
    const std::set<std::wstring> before = DesktopEntries();
    const int exitCode = RunProgram();
    const std::set<std::wstring> added = Added(before);
    for (const std::wstring& name : added) {
      DeleteFileW((DesktopFolder() + L"\\" + name).c_str());
    }
    EXPECT_TRUE(RemoveDirectoryW(blocked.c_str()));
    if (added.empty()) {
      EXPECT_EQ(kExitReportNotSaved, exitCode);
      return;
    }
  }
  FAIL() << "the minute changed during the run three times";
}

}  // namespace
