#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <utility>

#include "report/report_file.h"

namespace {

// The shell is the process whose executable's whole name is EXPLORER.EXE in any ASCII letter case; its
// token's user names the report, and "Unknown" does when there is none. It ends the session's shell, then
// lists a suspended copy of this program under each name in turn: a program of its own, so that no other
// test runs without a shell.
TEST(ShellUser, IsTheUserOfTheProcessNamedExplorerExe) {
  while (HANDLE shell = ReportFile::FindShellProcess()) {
    const bool ended = TerminateProcess(shell, 0) && WaitForSingleObject(shell, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(shell);
    ASSERT_TRUE(ended);
  }
  ReportFile file;
  file.BuildPath();
  EXPECT_NE(std::wcsstr(file.Path(), L"-Unknown-"), nullptr) << file.Path();
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"explorerx.exe", L""}, {L"explorer.exe.exe", L""}, {L"Explorer.exe", _wgetenv(L"USERNAME")}};
  for (const auto& [exeName, user] : cases) {
    const std::filesystem::path copy = std::filesystem::temp_directory_path() / exeName;
    std::filesystem::copy_file(_pgmptr, copy, std::filesystem::copy_options::overwrite_existing);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION listed = {};
    ASSERT_TRUE(CreateProcessW(copy.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &listed));
    wchar_t name[ReportFile::kAccountNameUnits] = {};
    ReportFile::GetShellUserName(name);
    EXPECT_STREQ(name, user) << exeName;
    TerminateProcess(listed.hProcess, 0);
    WaitForSingleObject(listed.hProcess, INFINITE);
    CloseHandle(listed.hThread);
    CloseHandle(listed.hProcess);
  }
}

}  // namespace
