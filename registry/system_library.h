#pragma once

#include <windows.h>

// A DLL of the system folder, loaded by its full path while the object lives, with its own imports
// searched from the system folder as well (LOAD_WITH_ALTERED_SEARCH_PATH), never from the exe's folder.
// Functions that not every supported Windows has are found here at run time rather than imported, so that
// the exe still starts where they are missing. Holds no module when the DLL cannot be loaded.
class SystemLibrary {
 public:
  explicit SystemLibrary(const wchar_t* fileName);
  ~SystemLibrary();
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The export `name` as a function of type Function; null when it or the DLL is missing.
  template <typename Function>
  Function Find(const char* name) const {
    const FARPROC found = module_ ? GetProcAddress(module_, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
  }

 private:
  HMODULE module_;
};
