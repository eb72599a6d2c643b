// Planted beside the program under the name of a DLL that the program's process loads. It exports nothing
// the program needs; if any process ever loads it, it leaves "<its own path>.loaded" behind.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  wchar_t path[MAX_PATH + 8] = {0};
  if (reason == DLL_PROCESS_ATTACH && GetModuleFileNameW(self, path, MAX_PATH) > 0) {
    CloseHandle(CreateFileW(lstrcatW(path, L".loaded"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
  }
  return TRUE;
}
