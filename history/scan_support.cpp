#include "history/scan_support.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "registry/ascii.h"

namespace {

// Only this much of a scratch is cleared before a query: every query result fits in it, terminator
// included (names of at most 255 units, value data of at most 256 units, time text of at most 22).
constexpr std::size_t kScratchClearedBytes = 1024;

}  // namespace

Scratch NewScratch() {
  Scratch scratch(new (std::nothrow) wchar_t[kScratchUnits]);
  if (scratch) {
    ClearScratch(scratch.get());
  }
  return scratch;
}

void ClearScratch(wchar_t* scratch) {
  std::memset(scratch, 0, kScratchClearedBytes);
}

wchar_t* NewRecordString(const wchar_t* text, std::size_t length) {
  wchar_t* copy = new (std::nothrow) wchar_t[length + 2];
  if (!copy) {
    return nullptr;
  }
  // The first length + 2 bytes, as the stored strings have always been prepared; the copy and its
  // terminator then cover every unit that is ever read.
  std::memset(copy, 0, length + 2);
  std::wmemcpy(copy, text, length);
  copy[length] = L'\0';
  return copy;
}

wchar_t* NewRecordStringFromScratch(const wchar_t* scratch) {
  return NewRecordString(scratch, wcsnlen(scratch, kScratchUnits - 1));
}

namespace {

// Frees and nulls a record's strings when the scope ends, unless Keep() was called: an iteration cut
// short by a failed allocation leaves its record all-absent, never half-filled.
class DeviceRecordFill {
 public:
  explicit DeviceRecordFill(DeviceRecord& record) : record_(record) {}
  ~DeviceRecordFill() {
    if (!kept_) {
      Clear(record_.deviceKeyName);
      Clear(record_.firstUsed);
      Clear(record_.friendlyName);
      Clear(record_.description);
    }
  }
  DeviceRecordFill(const DeviceRecordFill&) = delete;
  DeviceRecordFill& operator=(const DeviceRecordFill&) = delete;

  void Keep() { kept_ = true; }

 private:
  static void Clear(wchar_t*& text) {
    delete[] text;
    text = nullptr;
  }

  DeviceRecord& record_;
  bool kept_ = false;
};

// Stores the device-type key's time and the instance key's two values. False when an allocation fails.
bool StoreKeyData(const RegKey& deviceType, const RegKey& instance, wchar_t* scratch, DeviceRecord& record) {
  ClearScratch(scratch);
  deviceType.LastWriteText(scratch);
  record.firstUsed = NewRecordStringFromScratch(scratch);
  if (!record.firstUsed) {
    return false;
  }
  ClearScratch(scratch);
  instance.FindStringValue(scratch, kScratchUnits, L"FriendlyName");
  record.friendlyName = NewRecordStringFromScratch(scratch);
  if (!record.friendlyName) {
    return false;
  }
  ClearScratch(scratch);
  instance.FindStringValue(scratch, kScratchUnits, L"DeviceDesc");
  record.description = NewRecordStringFromScratch(scratch);
  return record.description != nullptr;
}

}  // namespace

bool StoreDeviceType(const RegKey& parent, wchar_t* scratch, DeviceRecord& record) {
  DeviceRecordFill fill(record);
  record.deviceKeyName = NewRecordStringFromScratch(scratch);
  if (!record.deviceKeyName) {
    return false;
  }
  OpenedKey deviceType(parent.Handle(), scratch);
  if (!deviceType) {
    return false;
  }
  // No instance key leaves the name empty, and the empty name opens the device-type key itself again,
  // so that its own values stand in for the instance key's.
  ClearScratch(scratch);
  deviceType->EnumSubkey(scratch, kScratchUnits, 0);
  OpenedKey instance(deviceType->Handle(), scratch);
  if (!instance) {
    return false;
  }
  const bool stored = StoreKeyData(*deviceType, *instance, scratch, record);
  deviceType.Reset();
  instance.Reset();
  if (stored) {
    fill.Keep();
  }
  return stored;
}

bool EqualsIgnoringAsciiCase(const wchar_t* left, const wchar_t* right) {
  for (; *left && *right; ++left, ++right) {
    if (AsciiUpperCase(*left) != AsciiUpperCase(*right)) {
      return false;
    }
  }
  return *left == *right;
}
