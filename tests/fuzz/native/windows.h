#pragma once

// The few Win32 names that the merger's headers use, for the native fuzzing build only.
typedef void* HANDLE;
typedef unsigned long DWORD;
#define WINAPI
#define INFINITE 0xFFFFFFFFul
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
inline int CloseHandle(HANDLE) {
  return 1;
}

// No semaphore is made, so the ZIP writer deflates on the caller's thread, as where Windows gives it no
// thread; the merger's cases under Wine run the threaded path.
inline HANDLE CreateSemaphoreW(void*, long, long, const wchar_t*) {
  return nullptr;
}
inline HANDLE CreateThread(void*, unsigned long, DWORD (*)(void*), void*, DWORD, DWORD*) {
  return nullptr;
}
inline DWORD WaitForSingleObject(HANDLE, DWORD) {
  return 0;
}
inline int ReleaseSemaphore(HANDLE, long, long*) {
  return 0;
}
