// launch PROGRAM SECONDS: runs PROGRAM in the window station that no one can see, where Windows runs
// services, watching its desktop for a window of PROGRAM's. Exits with PROGRAM's exit code when it ended by
// itself within SECONDS and made no window; else says why and exits with 124 (ended here) or 125 (a window).
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#define STATION L"Service-0x0-3e7$"

typedef struct {
  DWORD process_id;
  BOOL seen;
} ProgramWindow;

static BOOL CALLBACK NoteIfOwn(HWND window, LPARAM program_window) {
  ProgramWindow* own = (ProgramWindow*)program_window;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  own->seen |= owner == own->process_id;
  return TRUE;
}

// The station's desktop once the program's start has made the station, null until then. Its windows can be
// listed only from a process in that station, so this process moves there.
static HDESK OpenUnseenDesktop(void) {
  HWINSTA station = OpenWindowStationW(STATION, FALSE, WINSTA_ENUMDESKTOPS);
  if (!station || !SetProcessWindowStation(station)) {
    return NULL;
  }
  return OpenDesktopW(L"Default", 0, FALSE, DESKTOP_ENUMERATE | DESKTOP_READOBJECTS);
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fputs("usage: launch PROGRAM SECONDS\n", stderr);
    return 64;
  }
  wchar_t desktop_name[] = STATION L"\\Default";
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop_name;
  PROCESS_INFORMATION child;
  if (!CreateProcessW(argv[1], NULL, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child)) {
    fwprintf(stderr, L"launch: cannot start %ls (error %lu)\n", argv[1], GetLastError());
    return 126;
  }
  const DWORD limit = 1000 * wcstoul(argv[2], NULL, 10), started = GetTickCount();
  HDESK desktop = NULL;
  ProgramWindow window = {child.dwProcessId, FALSE};
  while (WaitForSingleObject(child.hProcess, 20) == WAIT_TIMEOUT) {
    desktop = desktop ? desktop : OpenUnseenDesktop();
    if (desktop) {
      EnumDesktopWindows(desktop, NoteIfOwn, (LPARAM)&window);
    }
    if (GetTickCount() - started > limit) {
      TerminateProcess(child.hProcess, 124);
      fwprintf(stderr, L"launch: %ls had not ended after %ls s (%ls); ended it\n", argv[1], argv[2],
               window.seen ? L"it had a window" : L"no window");
      return 124;
    }
  }
  if (window.seen) {
    fwprintf(stderr, L"launch: %ls made a window\n", argv[1]);
    return 125;
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  return (int)code;
}
