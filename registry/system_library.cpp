#include "registry/system_library.h"

#include <cstddef>

#include "text/bounded_text.h"

SystemLibrary::SystemLibrary(const wchar_t* fileName) : module_(nullptr) {
  wchar_t path[MAX_PATH] = {};
  const UINT folderUnits = GetSystemDirectoryW(path, MAX_PATH);
  std::size_t length = folderUnits;
  if (folderUnits > 0 && folderUnits < MAX_PATH && AppendBounded(path, MAX_PATH, length, L"\\") &&
      AppendBounded(path, MAX_PATH, length, fileName)) {
    module_ = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
}

SystemLibrary::~SystemLibrary() {
  if (module_) {
    FreeLibrary(module_);
  }
}
