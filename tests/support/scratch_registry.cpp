#include "support/scratch_registry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const wchar_t kTestsRoot[] = L"Software\\VestigiaTests\\";

HKEY CreateOrOpen(HKEY parent, const std::wstring& path) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  EXPECT_EQ(status, ERROR_SUCCESS) << "creating scratch key";
  return key;
}

}  // namespace

ScratchRegistry::ScratchRegistry(const std::wstring& name) : path_(kTestsRoot + name) {
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  root_ = CreateOrOpen(HKEY_CURRENT_USER, path_);
}

ScratchRegistry::~ScratchRegistry() {
  if (redirected_) {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  }
  RegCloseKey(root_);
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

void ScratchRegistry::RedirectMachineKey() {
  ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, root_), ERROR_SUCCESS);
  redirected_ = true;
}

void ScratchRegistry::CreateKey(const std::wstring& path) {
  RegCloseKey(CreateOrOpen(root_, path));
}

void ScratchRegistry::DeleteKey(const std::wstring& path) {
  EXPECT_EQ(RegDeleteTreeW(root_, path.c_str()), ERROR_SUCCESS);
  RegDeleteKeyW(root_, path.c_str());
}

void ScratchRegistry::SetString(const std::wstring& path, const std::wstring& name,
                                const std::wstring& value) {
  std::string bytes(reinterpret_cast<const char*>(value.c_str()), (value.size() + 1) * sizeof(wchar_t));
  SetRaw(path, name, REG_SZ, bytes);
}

void ScratchRegistry::SetDword(const std::wstring& path, const std::wstring& name, DWORD value) {
  SetRaw(path, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

void ScratchRegistry::SetRaw(const std::wstring& path, const std::wstring& name, DWORD type,
                             const std::string& bytes, DWORD size) {
  HKEY key = CreateOrOpen(root_, path);
  size = std::min(size, static_cast<DWORD>(bytes.size()));
  EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()), size),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

MachineKeyOverride::MachineKeyOverride(const wchar_t* path) {
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_), ERROR_SUCCESS)
      << "fixture key missing";
  EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_), ERROR_SUCCESS);
}

MachineKeyOverride::~MachineKeyOverride() {
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegCloseKey(key_);
}
