#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>

#include "history/device_history.h"
#include "support/alloc_hooks.h"
#include "support/report_files.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int);

namespace {

constexpr int kExitReported = 0;
constexpr int kExitNoMemory = 1;
constexpr int kExitReportNotSaved = 2;

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

// What a run should write: this machine's store, composed and converted to the ANSI code page.
std::string ExpectedReport() {
  DeviceHistory* store = new DeviceHistory;
  std::wstring text(kReportTextUnits, L'\0');
  store->ComposeReport(&text[0]);
  store->Release();
  delete store;
  return Converted(text.c_str(), CP_ACP);
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
  ASSERT_EQ(0u, expected.find(Converted(L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n", CP_ACP)));
  ASSERT_NE(std::string::npos, expected.find(Converted(L"以下為不完整記錄:\r\n\r\n", CP_ACP)));

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
    const std::wstring path = DesktopFolder() + L"\\" + *added.begin();
    EXPECT_EQ(expected, ReadBytes(path));
    EXPECT_TRUE(DeleteFileW(path.c_str()));
  }
}

// Without memory for the text, the store or the report file the run ends at once, writing nothing;
// without memory for the converted report it announces the report as not saved and leaves no bytes.
TEST(RunTest, MissingMemoryEndsTheRunInOrder) {
  // The text is the first allocation, the store the second; the report file is the one before the
  // conversion buffer, which is the last.
  const long allocations = CountRunAllocations();
  ASSERT_GE(allocations, 4);
  struct Case {
    const char* object;
    long allocation;
    int exitCode;
  };
  const Case cases[] = {{"text", 1, kExitNoMemory},
                        {"store", 2, kExitNoMemory},
                        {"report file", allocations - 1, kExitNoMemory},
                        {"conversion buffer", allocations, kExitReportNotSaved}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.object);
    const std::set<std::wstring> before = DesktopEntries();
    const long liveBlocks = alloc_hooks::LiveBlocks();
    alloc_hooks::FailNthNothrow(c.allocation);
    EXPECT_EQ(c.exitCode, RunProgram());
    EXPECT_TRUE(alloc_hooks::FailureHappened());
    EXPECT_EQ(c.allocation, alloc_hooks::NothrowCalls()) << "the run went on";
    alloc_hooks::FailNthNothrow(0);
    EXPECT_EQ(liveBlocks, alloc_hooks::LiveBlocks()) << "memory left allocated";
    const std::set<std::wstring> added = Added(before);
    EXPECT_TRUE(added.empty() || c.exitCode == kExitReportNotSaved) << "a file was written";
    for (const std::wstring& name : added) {
      const std::wstring path = DesktopFolder() + L"\\" + name;
      EXPECT_EQ("", ReadBytes(path));
      DeleteFileW(path.c_str());
    }
  }
}

}  // namespace
