#pragma once

#include <windows.h>

#include <string>

// A scratch registry tree for one test: HKCU\Software\VestigiaTests\<name>, created empty by the
// constructor and deleted with everything below it by the destructor. Paths are relative to that root.
//
// RedirectMachineKey() makes HKEY_LOCAL_MACHINE stand for the scratch root in this process, so code that
// reads fixed paths under HKLM (the scans) reads the test's own keys instead; the destructor undoes it.
class ScratchRegistry {
 public:
  explicit ScratchRegistry(const std::wstring& name);
  ~ScratchRegistry();
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  HKEY Root() const { return root_; }
  void RedirectMachineKey();

  void CreateKey(const std::wstring& path);
  void DeleteKey(const std::wstring& path);
  void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& value);
  void SetDword(const std::wstring& path, const std::wstring& name, DWORD value);
  // Stores the first `size` bytes of `bytes` (all by default) as they are, with the given type. Bytes after
  // `size` stay readable, so that a string without a terminator is not given one: the registry would add
  // a null unit that follows the stored size.
  void SetRaw(const std::wstring& path, const std::wstring& name, DWORD type, const std::string& bytes,
              DWORD size = MAXDWORD);

 private:
  std::wstring path_;
  HKEY root_ = nullptr;
  bool redirected_ = false;
};

// Makes HKEY_LOCAL_MACHINE stand for one of its own subkeys in this process while the object lives: a
// way to scan a fixture tree loaded into the prefix with exact key times (tests/fixtures/*.reg).
class MachineKeyOverride {
 public:
  explicit MachineKeyOverride(const wchar_t* path);
  ~MachineKeyOverride();
  MachineKeyOverride(const MachineKeyOverride&) = delete;
  MachineKeyOverride& operator=(const MachineKeyOverride&) = delete;

 private:
  HKEY key_ = nullptr;
};
