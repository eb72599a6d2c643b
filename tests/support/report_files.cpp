#include "support/report_files.h"

#include <gtest/gtest.h>
#include <shlobj.h>

std::wstring DesktopFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, folder, CSIDL_COMMON_DESKTOPDIRECTORY, FALSE);
  return folder;
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open the report file";
    return bytes;
  }
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  return bytes;
}

std::string Converted(const wchar_t* text, UINT codePage) {
  const int needed = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(needed, '\0');
  WideCharToMultiByte(codePage, 0, text, -1, &bytes[0], needed, nullptr, nullptr);
  return bytes.substr(0, needed > 0 ? needed - 1 : 0);
}
