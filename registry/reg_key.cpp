#include "registry/reg_key.h"

#include <cwchar>
#include <new>

namespace {

// What one value enumeration receives: names up to 511 units and data up to kMaxValueDataBytes fit; a
// value with a longer name or more data is skipped, as if it were missing.
constexpr DWORD kValueNameUnits = 512;
constexpr DWORD kValueDataCapacity = RegKey::kMaxValueDataBytes;

// A subkey name has at most 255 units.
constexpr DWORD kSubkeyNameUnits = 256;

static_assert(kSubkeyNameUnits - 1 <= RegKey::kMaxTextUnits && kMaxTimeTextUnits <= RegKey::kMaxTextUnits,
              "no query writes a text longer than RegKey::kMaxTextUnits");

}  // namespace

RegKey::RegKey(HKEY parent, const wchar_t* subkeyPath) : key_(nullptr) {
  if (RegOpenKeyExW(parent, subkeyPath, 0, KEY_READ, &key_) != ERROR_SUCCESS) {
    key_ = nullptr;
  }
}

LONG RegKey::Close() {
  return RegCloseKey(key_);
}

int RegKey::SubkeyCount() const {
  if (!key_) {
    return -1;
  }
  DWORD count = 0;
  if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<int>(count);
}

bool RegKey::EnumSubkey(wchar_t* name, DWORD capacity, DWORD index) const {
  if (!key_ || capacity == 0) {
    return false;
  }
  // The name is received into a buffer of our own and copied only on success, so that no failure, not
  // even a name that does not fit, can leave a partial name in the caller's buffer.
  wchar_t received[kSubkeyNameUnits];
  DWORD length = capacity < kSubkeyNameUnits ? capacity : kSubkeyNameUnits;
  if (RegEnumKeyExW(key_, index, received, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
      length >= capacity) {
    return false;
  }
  wmemcpy(name, received, length);
  name[length] = L'\0';
  return true;
}

bool RegKey::FindStringValue(wchar_t* text, DWORD capacity, const wchar_t* valueName) const {
  if (!key_ || capacity == 0) {
    return false;
  }
  DWORD valueCount = 0;
  if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                       nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
      valueCount == 0) {
    return false;
  }
  const std::size_t soughtLength = std::wcslen(valueName);
  wchar_t name[kValueNameUnits];
  // Whole units of data; aligned for them.
  wchar_t data[kValueDataCapacity / sizeof(wchar_t)];
  for (DWORD index = 0; index < valueCount; ++index) {
    DWORD nameLength = kValueNameUnits;
    DWORD dataBytes = kValueDataCapacity;
    DWORD type = 0;
    if (RegEnumValueW(key_, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                      &dataBytes) != ERROR_SUCCESS) {
      continue;
    }
    // Exact, case-sensitive and over the whole name, although the registry itself ignores case.
    if (nameLength != soughtLength || wmemcmp(name, valueName, soughtLength) != 0) {
      continue;
    }
    // The data are taken as text whatever their type: the units received (a trailing odd byte is no
    // unit) up to the first null one, cut to the capacity, and always terminated here.
    DWORD units = (dataBytes < kValueDataCapacity ? dataBytes : kValueDataCapacity) / sizeof(wchar_t);
    DWORD length = 0;
    while (length < units && length + 1 < capacity && data[length] != L'\0') {
      ++length;
    }
    wmemcpy(text, data, length);
    text[length] = L'\0';
    return true;
  }
  return false;
}

bool RegKey::LastWriteTime(ULONGLONG* written) const {
  FILETIME lastWrite{};
  if (!key_ || RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, &lastWrite) != ERROR_SUCCESS) {
    return false;
  }
  *written = (static_cast<ULONGLONG>(lastWrite.dwHighDateTime) << 32) | lastWrite.dwLowDateTime;
  return true;
}

// Fails, leaving `text` untouched, when the time cannot be read or either conversion fails: a caller that
// cleared its buffer then holds the empty string rather than a time that may be wrong.
bool RegKey::LastWriteText(wchar_t* text, ULONGLONG* written) const {
  ULONGLONG time = 0;
  if (!LastWriteTime(&time) || !FormatTimeText(time, text)) {
    return false;
  }
  if (written) {
    *written = time;
  }
  return true;
}

bool FormatTimeText(ULONGLONG written, wchar_t* text) {
  FILETIME universalTime{};
  universalTime.dwLowDateTime = static_cast<DWORD>(written);
  universalTime.dwHighDateTime = static_cast<DWORD>(written >> 32);
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (!FileTimeToSystemTime(&universalTime, &universal) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    return false;
  }
  wchar_t rendered[kTimeTextCapacity];
  const int length = std::swprintf(rendered, kTimeTextCapacity, kTimeTextFormat, local.wYear, local.wMonth,
                                   local.wDay, local.wHour, local.wMinute, local.wSecond);
  if (length < 0 || length >= static_cast<int>(kTimeTextCapacity)) {
    return false;
  }
  wmemcpy(text, rendered, static_cast<std::size_t>(length) + 1);
  return true;
}

OpenedKey::OpenedKey(HKEY parent, const wchar_t* subkeyPath)
    : key_(new (std::nothrow) RegKey(parent, subkeyPath)) {}

void OpenedKey::Reset() {
  if (key_) {
    key_->Close();
    delete key_;
    key_ = nullptr;
  }
}
