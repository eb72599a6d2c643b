#include <windows.h>

#include <string>
#include <vector>

#include "app/run_setting.h"
#include "merge/merge_command.h"

namespace {

constexpr wchar_t kWrongArgumentsHint[] = L"（vestigia-merge --help 顯示用法）";
constexpr wchar_t kPressAnyKey[] = L"按任意鍵關閉此視窗…";

// The merger's standard output. A console gets UTF-16 text, which it shows whatever its code page; a
// file or pipe gets bytes in the console's output code page, or without a console in the ANSI code page,
// as other console programs of the system write them.
class ConsoleOutput {
 public:
  ConsoleOutput()
      : handle_(GetStdHandle(STD_OUTPUT_HANDLE)), console_(false), codePage_(GetConsoleOutputCP()) {
    DWORD mode = 0;
    console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
    codePage_ = codePage_ != 0 ? codePage_ : GetACP();
  }
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

  void Line(const std::wstring& text) const { Write(text + L"\r\n"); }

  void Write(const std::wstring& text) const {
    DWORD written = 0;
    if (console_) {
      WriteConsoleW(handle_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      return;
    }
    const int size = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(codePage_, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
      std::string bytes(static_cast<std::size_t>(needed), '\0');
      WideCharToMultiByte(codePage_, 0, text.data(), size, &bytes[0], needed, nullptr, nullptr);
      WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
  }

 private:
  HANDLE handle_;
  bool console_;
  UINT codePage_;
};

// A console that no other process shares was opened for this one (a double-click, or files dropped onto
// the icon) and closes when it ends: then it waits for a key, so that the summary can be read. Started
// from a command prompt, or with its output redirected, it never waits; nor where no one can see the
// console (a SYSTEM task gets a console of its own, hidden), since no key would ever come.
void WaitForKeyWhenTheConsoleIsOurs(const ConsoleOutput& output) {
  DWORD processes[2] = {};
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleProcessList(processes, 2) != 1 || !GetConsoleMode(input, &mode) ||
      !SomeoneCanSeeTheDesktop()) {
    return;
  }
  output.Line(kPressAnyKey);
  FlushConsoleInputBuffer(input);
  INPUT_RECORD record = {};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
      return;
    }
  }
}

}  // namespace

// Merges the report files and folders named on the command line into a CSV table, an overview page and a
// workbook; see MergeHelp().
int wmain(int argc, wchar_t** argv) {
  SearchDllsInTheSystemFolderOnly();
  const ConsoleOutput output;
  const std::vector<std::wstring> arguments(argv + 1, argv + argc);
  MergeOptions options;
  std::wstring error;
  int exitCode = kMergeAllMerged;
  if (arguments.empty()) {
    output.Write(MergeHelp());
    exitCode = kMergeFailed;
  } else if (!ReadMergeArguments(arguments, options, error)) {
    output.Line(error + kWrongArgumentsHint);
    exitCode = kMergeFailed;
  } else if (options.help) {
    output.Write(MergeHelp());
  } else {
    exitCode = MergeReports(options, [&output](const std::wstring& line) { output.Line(line); });
  }
  WaitForKeyWhenTheConsoleIsOurs(output);
  return exitCode;
}
