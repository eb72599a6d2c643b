#include "app/run_setting.h"

#include <windows.h>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which the Windows XP headers do not declare.
constexpr DWORD kSearchSystemFolderOnly = 0x00000800;

}  // namespace

void SearchDllsInTheSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  if (const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
    if (const FARPROC found = GetProcAddress(kernel32, "SetDefaultDllDirectories")) {
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(found))(
          kSearchSystemFolderOnly);
    }
  }
  SetDllDirectoryW(L"");
}

bool SomeoneCanSeeTheDesktop() {
  const HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
    return true;
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
