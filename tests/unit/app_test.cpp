// The whole program run in a prefix whose registry is the case that VESTIGIA_CASE names, whose report it
// expects, with each of its allocations failing in turn.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/unit/failing_allocations.h"
#include "tests/unit/file_bytes.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int);

namespace {

using failing_allocations::ArmNothrow;

std::wstring Decoded(const std::string& bytes, UINT codePage) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

// Whichever allocation fails, the run frees all it allocated and ends in one of three ways: without memory
// for the run itself (exit 1, no file), with the report not saved (exit 2, an empty file), or with a
// report of whole records, some perhaps missing (exit 0).
TEST(Run, EveryFailedAllocationEndsTheRunCleanly) {
  const std::wstring line = L"[^\r\n]*\r\n", name = L"裝置名稱: " + line, last = L"最後使用: " + line;
  const std::wstring device = L"驅動程式: " + line + name + L"裝置種類: " + line + L"首次使用: " + line;
  const std::wregex wholeRecords(L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n(" + device + last +
                                 L"\r\n)*以下為不完整記錄:\r\n\r\n(" + device + L"\r\n)*(" + name + last +
                                 L"\r\n)*");
  const std::wstring expected =
      Decoded(ReadBytes(std::filesystem::path(_wgetenv(L"VESTIGIA_CASE")) / "expected.txt"), CP_UTF8);
  std::vector<std::string> files;
  long allocations = 0;
  // One run, which must free all it allocated: its exit code; its desktop's files go to `files`.
  const auto RunProgram = [&files, &allocations](long failing) {
    files.clear();
    wchar_t noArguments[] = L"";
    const long liveBlocks = failing_allocations::live_blocks;
    ArmNothrow(failing);
    const int exitCode = wWinMain(GetModuleHandleW(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
    allocations = failing_allocations::nothrow_calls;
    ArmNothrow(0);
    EXPECT_EQ(failing_allocations::live_blocks, liveBlocks) << failing << ": memory left allocated";
    for (const auto& file :
         std::filesystem::directory_iterator(std::filesystem::path(_wgetenv(L"PUBLIC")) / "Desktop")) {
      files.push_back(ReadBytes(file.path()));
      std::filesystem::remove(file.path());
    }
    return exitCode;
  };
  ASSERT_EQ(RunProgram(0), 0);
  const long runAllocations = allocations;
  ASSERT_EQ(files.size(), 1u);
  ASSERT_EQ(Decoded(files[0], CP_ACP), std::regex_replace(expected, std::wregex(L"\n"), L"\r\n"));
  for (long failing = 1; failing <= runAllocations; ++failing) {
    const int exitCode = RunProgram(failing);
    ASSERT_TRUE(exitCode == 0 || exitCode == 1 || exitCode == 2) << failing << ": exit code " << exitCode;
    EXPECT_EQ(files.size(), exitCode == 1 ? 0u : 1u) << failing;
    for (const std::string& file : files) {
      EXPECT_TRUE(exitCode == 2 ? file.empty() : std::regex_match(Decoded(file, CP_ACP), wholeRecords))
          << failing << ": exit code " << exitCode << ", " << file;
    }
  }
  // Once the program has run, no DLL is searched for beside it: the marker DLL lies beside this test.
  EXPECT_EQ(LoadLibraryW(L"libplanted_marker.dll"), nullptr);
}

}  // namespace
