#pragma once

// The few Win32 names that the merger's headers use, for the native fuzzing build only: the declarations
// of merge/report_files.h compile against these, and tests/fuzz/native_platform.cpp defines what the
// fuzzed code calls of it. No product source calls a Win32 function natively.
typedef void* HANDLE;
typedef unsigned long DWORD;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
inline int CloseHandle(HANDLE) {
  return 1;
}
