// What no end-to-end case reaches, in a prefix whose registry is the case that VESTIGIA_CASE names. The
// global allocation functions count live blocks, and can make the n-th nothrow allocation after Arm() fail
// (the only way the program's allocations fail) or run an action first (to change the registry inside a
// scan), or the n-th throwing allocation after ArmThrowing() throw (as the merger's do).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "history/device_history.h"
#include "merge/merge_command.h"
#include "registry/reg_key.h"
#include "report/compose_report.h"
#include "report/report_file.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int);

namespace {

long live_blocks = 0, nothrow_calls = 0, fail_at = 0, act_at = 0, throwing_calls = 0, throwing_fail_at = 0;
void (*action)() = nullptr;

void Arm(long failAt, long actAt = 0, void (*act)() = nullptr) {
  fail_at = failAt;
  act_at = actAt;
  action = act;
  nothrow_calls = 0;
}

void ArmThrowing(long failAt) {
  throwing_fail_at = failAt;
  throwing_calls = 0;
}

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  live_blocks += block != nullptr;
  return block;
}

}  // namespace

// The array and sized forms are defined in terms of these.
void* operator new(std::size_t size) {
  void* block = ++throwing_calls == throwing_fail_at ? nullptr : Allocate(size);
  return block ? block : throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (++nothrow_calls == act_at) {
    action();
  }
  return nothrow_calls == fail_at ? nullptr : Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, nothrow);
}
void operator delete(void* block) noexcept {
  live_blocks -= block != nullptr;
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}

namespace {

const std::wstring kHeader = L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n",
                   kHeader2 = L"以下為不完整記錄:\r\n\r\n";

// Composes into `buffer` the report of a store that holds one entry without device key, named `name` and last
// used at `time`.
void ComposeOneEntry(wchar_t* buffer, const std::wstring& name, const std::wstring& time) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  store.interfaces = new InterfaceRecord[1]{{0, std::wcscpy(new wchar_t[name.size() + 1], name.c_str()),
                                             std::wcscpy(new wchar_t[time.size() + 1], time.c_str())}};
  store.interfaceCount = 1;
  ComposeReport(store, buffer);
  store.Release();
}

// The text holds at most kReportTextUnits - 1 units. Composition appends a header or a whole record at a
// time after what the buffer holds, and stops before the first that does not fit; the guard stays intact.
TEST(Compose, StopsBeforeTheFirstPieceThatDoesNotFit) {
  const std::wstring entry = L"裝置名稱: Z\r\n最後使用: 2\r\n\r\n", whole = kHeader + kHeader2 + entry;
  const struct {
    int spareUnits;  // room beyond what the whole report needs; negative: short by that much
    std::wstring appended;
  } cases[] = {
      {0, whole}, {-1, kHeader + kHeader2}, {-static_cast<int>(whole.size() - kHeader.size()) - 1, L""}};
  std::vector<wchar_t> buffer(kReportTextUnits + 64);
  for (const auto& c : cases) {
    const std::size_t prefill = kReportTextUnits - 1 - whole.size() - c.spareUnits;
    std::fill(buffer.begin(), buffer.end(), L'\xFEFE');
    std::fill(buffer.begin(), buffer.begin() + prefill, L'x');
    buffer[prefill] = L'\0';
    ComposeOneEntry(buffer.data(), L"Z", L"2");
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(prefill, L'x') + c.appended) << c.spareUnits;
    EXPECT_EQ(std::count(buffer.end() - 64, buffer.end(), L'\xFEFE'), 64) << c.spareUnits;
  }
}

// A value never ends, splits or blanks a line of the report: each unit that could is written as '?', unit for
// unit; every other unit, tab and the C1 controls besides NEL included, as it stands. Each value is both
// fields of an entry without device key, so a name and a time are checked alike.
TEST(Compose, ValuesStayOnTheirLine) {
  const struct {
    std::wstring value, written;
  } cases[] = {
      {L"A\rB\nC", L"A?B?C"},
      {L"Evil\r\n\r\n以下為不完整記錄:\r\n\r\n裝置名稱: Planted",
       L"Evil????以下為不完整記錄:????裝置名稱: Planted"},
      {L"\x01\x08\x0B\x0C\x1B\x1F", L"??????"},
      {L"\x7F\x85\x2028\x2029", L"????"},
      {L"\t \x7E\x80\x84\x86\x9F\xA0", L"\t \x7E\x80\x84\x86\x9F\xA0"},
      {L"\x2027\x202A\x3000\xFEFF\xD83D\xDE00?", L"\x2027\x202A\x3000\xFEFF\xD83D\xDE00?"},
  };
  std::vector<wchar_t> buffer(kReportTextUnits);
  for (const auto& c : cases) {
    buffer[0] = L'\0';
    ComposeOneEntry(buffer.data(), c.value, c.value);
    EXPECT_EQ(std::wstring(buffer.data()),
              kHeader + kHeader2 + L"裝置名稱: " + c.written + L"\r\n最後使用: " + c.written + L"\r\n\r\n")
        << c.written;
  }
}

const std::wstring kUsbstor = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\";
const std::wstring kDisk =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\\";
const std::vector<std::wstring>* pending_changes = nullptr;

// Creates each key of `paths` under HKEY_LOCAL_MACHINE, or deletes it (a key without subkeys) when its
// path begins with "-".
void ChangeKeys(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) {
    HKEY key = nullptr;
    if (path[0] == L'-') {
      EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str() + 1), ERROR_SUCCESS);
    } else if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                               nullptr) == ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  }
}

template <typename Record>
std::vector<std::wstring> Names(const Record* records, int count) {
  std::vector<std::wstring> names;
  for (int i = 0; records && i < count; ++i) {
    names.push_back(records[i].deviceKeyName ? records[i].deviceKeyName : L"(absent)");
  }
  return names;
}

// Keys that go or come after a scan counted them: the scan neither makes up a record for an index that no
// longer exists nor fills more interface records than it counted, every record below a count is in use,
// and the store frees all it holds. HKEY_LOCAL_MACHINE stands for an empty scratch key meanwhile.
TEST(Scan, KeysChangedDuringTheScan) {
  const std::wstring entry = kDisk + L"##?#USBSTOR#";
  const struct {
    std::vector<std::wstring> keys, changes;
    long changeAt;  // the nothrow allocation before which the keys change
    std::vector<std::wstring> devices, entries;
  } cases[] = {
      // clang-format off
      // Allocation 2 is the record array: USBSTOR was counted.
      {{kUsbstor + L"A", kUsbstor + L"B\\1", kUsbstor + L"C\\1"}, {L"-" + kUsbstor + L"A"}, 2,
       {L"B", L"C"}, {}},
      // Without USBSTOR and Enum\USB, allocations 1 to 6 are the keys and the UAS scan's two scratches,
      // and 7 the record array: the entries were counted.
      {{entry + L"A#1\\#", kDisk + L"x1", kDisk + L"x2"}, {entry + L"B#1\\#", entry + L"C#1\\#"}, 7,
       {}, {L"A", L"B", L"C"}},
      // clang-format on
  };
  for (const auto& change : cases) {
    HKEY scratch = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER,
                    (L"Software\\VestigiaTests\\" + std::to_wstring(change.changeAt)).c_str(), 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &scratch, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch);
    ChangeKeys(change.keys);
    pending_changes = &change.changes;
    const long baseline = live_blocks;
    Arm(0, change.changeAt, [] { ChangeKeys(*pending_changes); });
    DeviceHistory store;
    Arm(0);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(scratch);
    EXPECT_EQ(Names(store.devices, store.deviceCount), change.devices);
    EXPECT_EQ(Names(store.interfaces, store.interfaceCount), change.entries);
    store.Release();
    EXPECT_EQ(live_blocks, baseline);
  }
}

TEST(Scan, KeysAreOpenedForReadingOnly) {
  RegKey key(HKEY_LOCAL_MACHINE, kUsbstor.c_str());
  ASSERT_NE(key.Handle(), nullptr);
  EXPECT_EQ(RegSetValueExW(key.Handle(), L"Written", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2),
            ERROR_ACCESS_DENIED);
  key.Close();
}

// In UTF-8 a report needs more than two bytes per UTF-16 unit: the output buffer follows the converter.
TEST(ReportFile, WritesAReportThatNeedsMoreThanTwoBytesPerUnitWhole) {
  ReportFile file;
  ASSERT_TRUE(file.Create());
  EXPECT_TRUE(file.Write(std::wstring(100000, L'\x4E2D').c_str(), CP_UTF8));
  file.Close();
  EXPECT_EQ(std::filesystem::file_size(file.Path()), 300000u);
  DeleteFileW(file.Path());
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::wstring Decoded(const std::string& bytes, UINT codePage) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

// Fails every nothrow allocation of a run in turn: the text, the store and the report file end the run at
// once (exit 1, no file); the conversion buffer ends it with the report not saved (exit 2, an empty file);
// any other, inside the scans, leaves a store with fewer records (exit 0, a report of whole records).
TEST(Run, EveryFailedAllocationEndsTheRunInOrderAndFreesEverything) {
  const std::wstring line = L"[^\r\n]*\r\n", name = L"裝置名稱: " + line, last = L"最後使用: " + line;
  const std::wstring device = L"驅動程式: " + line + name + L"裝置種類: " + line + L"首次使用: " + line;
  const std::wregex wholeRecords(kHeader + L"(" + device + last + L"\r\n)*" + kHeader2 + L"(" + device +
                                 L"\r\n)*(" + name + last + L"\r\n)*");
  const std::wstring expected =
      Decoded(ReadBytes(std::filesystem::path(_wgetenv(L"VESTIGIA_CASE")) / "expected.txt"), CP_UTF8);
  std::vector<std::string> files;
  // One run, which must free all it allocated: its exit code; the files it left on the desktop go to `files`.
  const auto RunProgram = [&files] {
    wchar_t noArguments[] = L"";
    const long liveBlocks = live_blocks;
    const int exitCode = wWinMain(GetModuleHandleW(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
    EXPECT_EQ(live_blocks, liveBlocks) << "memory left allocated";
    for (const auto& file :
         std::filesystem::directory_iterator(std::filesystem::path(_wgetenv(L"PUBLIC")) / "Desktop")) {
      files.push_back(ReadBytes(file.path()));
      std::filesystem::remove(file.path());
    }
    return exitCode;
  };
  Arm(0);
  ASSERT_EQ(RunProgram(), 0);
  const long allocations = nothrow_calls;
  ASSERT_EQ(files.size(), 1u);
  ASSERT_EQ(Decoded(files[0], CP_ACP), std::regex_replace(expected, std::wregex(L"\n"), L"\r\n"));
  for (long n = 1; n <= allocations; ++n) {
    files.clear();
    Arm(n);
    const int exitCode = RunProgram();
    Arm(0);
    const int expectedExit = n <= 2 || n == allocations - 1 ? 1 : n == allocations ? 2 : 0;
    EXPECT_EQ(exitCode, expectedExit) << "allocation " << n;
    EXPECT_EQ(files.size(), expectedExit == 1 ? 0u : 1u) << "allocation " << n;
    for (const std::string& file : files) {
      EXPECT_TRUE(expectedExit == 2 ? file.empty() : std::regex_match(Decoded(file, CP_ACP), wholeRecords))
          << "allocation " << n << ": " << file;
    }
  }
  // Once the program has run, no DLL is searched for beside it: the marker DLL lies beside this test.
  EXPECT_EQ(LoadLibraryW(L"libplanted_marker.dll"), nullptr);
}

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
    const long liveBlocks = live_blocks;
    ArmThrowing(failing);
    const int exitCode = MergeReports(options, [&said](const std::wstring& line) { said.push_back(line); });
    const long allocations = throwing_calls;
    ArmThrowing(0);
    EXPECT_EQ(live_blocks, liveBlocks + static_cast<long>(said.size()))
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

// The shell is the process whose executable's whole name is EXPLORER.EXE in any ASCII letter case; its
// token's user names the report, and "Unknown" does when there is none. Runs last: it ends the session's
// shell, then lists a suspended copy of this program under each name in turn.
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
