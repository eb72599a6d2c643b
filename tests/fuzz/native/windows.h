#pragma once

// The few Win32 names that the merger's headers use, for the native fuzzing build only: the declarations
// of merge/report_files.h compile against these, and tests/fuzz/native_platform.cpp defines what the
// fuzzed code calls of it. No product source calls a Win32 function natively.
typedef void* HANDLE;
typedef unsigned long DWORD;
#define WINAPI
#define INFINITE 0xFFFFFFFFul
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
inline int CloseHandle(HANDLE) {
  return 1;
}

// The ZIP writer deflates on a thread of its own where it can make one. Natively no semaphore is made, so
// it deflates on the caller's thread, the way it does where Windows gives it no thread: the functions below
// are never reached with a handle. The merger's cases under Wine run the threaded path.
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
