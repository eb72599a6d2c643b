#include "report/report_file.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>

#include "registry/system_library.h"
#include "report/report_format.h"
#include "text/ascii.h"
#include "text/bounded_text.h"

namespace {

constexpr wchar_t kFallbackFolder[] = L"C:\\";
constexpr wchar_t kUnknownName[] = L"Unknown";
constexpr wchar_t kShellExecutable[] = L"EXPLORER.EXE";

// PROCESS_ALL_ACCESS as systems before Vista define it; the shell's token is read through this handle.
constexpr DWORD kShellProcessAccess = 0x001F0FFF;

constexpr DWORD kTokenInformationBytes = 2048;

// Whether an executable's file name equals "EXPLORER.EXE" when only the ASCII letters a to z are
// upper-cased; every other unit must match exactly.
bool IsShellExecutable(const wchar_t* exeFile) {
  return EqualsIgnoringAsciiCase(std::wstring_view(exeFile, wcsnlen(exeFile, MAX_PATH)), kShellExecutable);
}

}  // namespace

ReportFile::ReportFile() : handle(nullptr), path{} {}

ReportFile::~ReportFile() {
  Close();
}

bool ReportFile::Create() {
  const bool pathFits = BuildPath();
  Close();
  // A path that was cut names some other file, so nothing is created for it.
  handle = pathFits ? CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                    : INVALID_HANDLE_VALUE;
  return handle != INVALID_HANDLE_VALUE;
}

bool ReportFile::Write(const wchar_t* text, UINT codePage) {
  if (!text || !handle || handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  if (text[0] == L'\0') {
    return true;
  }
  // The converter states the size it needs, terminator included, so the buffer always suffices.
  const int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 1) {
    return false;
  }
  char* bytes = new (std::nothrow) char[needed];
  if (!bytes) {
    return false;
  }
  bool written = false;
  const int converted = WideCharToMultiByte(codePage, 0, text, -1, bytes, needed, nullptr, nullptr);
  if (converted > 1) {
    const DWORD count = static_cast<DWORD>(converted - 1);
    DWORD done = 0;
    written = WriteFile(handle, bytes, count, &done, nullptr) && done == count;
  }
  delete[] bytes;
  return written;
}

void ReportFile::Close() {
  // INVALID_HANDLE_VALUE is the record of a failed creation, not a handle of ours.
  if (handle && handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
  }
  handle = nullptr;
}

bool ReportFile::BuildPath() {
  // The time is read before the user lookup; all of it when the file is created.
  wchar_t folder[kPathUnits] = {};
  // shell32 is loaded here rather than imported: an import is resolved at start-up, together with
  // shell32's own imports, through a search that begins in the exe's folder.
  const SystemLibrary shell32(L"shell32.dll");
  using SpecialFolderPathFunction = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);
  if (const auto getSpecialFolderPath = shell32.Find<SpecialFolderPathFunction>("SHGetSpecialFolderPathW")) {
    getSpecialFolderPath(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
  }
  folder[kPathUnits - 1] = L'\0';
  if (folder[0] == L'\0') {
    CopyBounded(folder, kPathUnits, kFallbackFolder);
  }

  SYSTEMTIME now = {};
  GetLocalTime(&now);

  wchar_t computer[kPathUnits] = {};
  DWORD computerUnits = kPathUnits;
  GetComputerNameW(computer, &computerUnits);
  computer[kPathUnits - 1] = L'\0';
  if (computer[0] == L'\0') {
    CopyBounded(computer, kPathUnits, kUnknownName);
  }

  wchar_t user[kPathUnits] = {};
  GetShellUserName(user);
  if (user[0] == L'\0') {
    CopyBounded(user, kPathUnits, kUnknownName);
  }

  return FormatPath(path, folder, now, user, computer);
}

bool ReportFile::FormatPath(wchar_t* path, const wchar_t* folder, const SYSTEMTIME& time, const wchar_t* user,
                            const wchar_t* computer) {
  // Each field at most 5 digits, so the stamp always fits its buffer.
  wchar_t stamp[32] = {};
  std::swprintf(stamp, sizeof stamp / sizeof stamp[0], kReportNameStampFormat, static_cast<int>(time.wYear),
                static_cast<int>(time.wMonth), static_cast<int>(time.wDay), static_cast<int>(time.wHour),
                static_cast<int>(time.wMinute));
  const wchar_t* const pieces[] = {
      folder, L"\\", stamp, kReportNameSeparator, user, kReportNameSeparator, computer, kReportNameExtension};
  std::size_t length = 0;
  bool fits = true;
  for (const wchar_t* piece : pieces) {
    fits = fits && AppendBounded(path, kPathUnits, length, piece);
  }
  std::memset(path + length, 0, (kPathUnits - length) * sizeof(wchar_t));
  return fits;
}

HANDLE ReportFile::FindShellProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  // The first match decides, even when it cannot be opened: a later shell belongs to another session.
  HANDLE process = nullptr;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (IsShellExecutable(entry.szExeFile)) {
      process = OpenProcess(kShellProcessAccess, FALSE, entry.th32ProcessID);
      break;
    }
  }
  CloseHandle(snapshot);
  return process;
}

void ReportFile::GetShellUserName(wchar_t* name) {
  if (!name) {
    return;
  }
  name[0] = L'\0';
  HANDLE process = FindShellProcess();
  if (!process) {
    return;
  }
  HANDLE token = nullptr;
  const BOOL tokenOpened = OpenProcessToken(process, TOKEN_QUERY, &token);
  CloseHandle(process);
  if (!tokenOpened) {
    return;
  }
  union {
    TOKEN_USER user;
    BYTE bytes[kTokenInformationBytes];
  } tokenInformation;
  std::memset(&tokenInformation, 0, sizeof tokenInformation);
  DWORD returned = 0;
  const BOOL tokenRead =
      GetTokenInformation(token, TokenUser, &tokenInformation, sizeof tokenInformation, &returned);
  CloseHandle(token);
  if (!tokenRead) {
    return;
  }
  wchar_t account[kAccountNameUnits] = {};
  wchar_t domain[kAccountNameUnits] = {};
  DWORD accountUnits = kAccountNameUnits;
  DWORD domainUnits = kAccountNameUnits;
  SID_NAME_USE use = static_cast<SID_NAME_USE>(0);
  if (!LookupAccountSidW(nullptr, tokenInformation.user.User.Sid, account, &accountUnits, domain,
                         &domainUnits, &use)) {
    return;
  }
  CopyBounded(name, kAccountNameUnits, account);
}
