#include "registry/reg_key.h"

#include <new>

RegKey::RegKey(HKEY parent, const wchar_t* subkeyPath) : key_(nullptr) {
  RegOpenKeyExW(parent, subkeyPath, 0, KEY_READ, &key_);
}

LONG RegKey::Close() { return RegCloseKey(key_); }

int RegKey::SubkeyCount() const { return -1; }

bool RegKey::EnumSubkey(wchar_t*, DWORD, DWORD) const { return false; }

bool RegKey::FindStringValue(wchar_t*, DWORD, const wchar_t*) const { return false; }

bool RegKey::LastWriteText(wchar_t*) const { return false; }

OpenedKey::OpenedKey(HKEY parent, const wchar_t* subkeyPath) : key_(new (std::nothrow) RegKey(parent, subkeyPath)) {}

void OpenedKey::Reset() {
  if (key_) {
    key_->Close();
    delete key_;
    key_ = nullptr;
  }
}
