#include "history/scan_support.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <new>

#include "registry/device_properties.h"
#include "text/bounded_text.h"
#include "text/time_text.h"

namespace {

// Only this much of a scratch is cleared before a query: every query result fits in it, terminator
// included.
constexpr std::size_t kScratchClearedBytes = (RegKey::kMaxTextUnits + 1) * sizeof(wchar_t);

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

// The device instance ID under which SetupAPI knows an instance key: "<enumerator>\<device key
// name>\<instance>", at most 3 + 255 + 255 units beside the enumerator's name.
constexpr std::size_t kInstanceIdUnits = 600;

// Frees and nulls a record's strings when the scope ends, unless Keep() was called: an iteration cut
// short by a failed allocation leaves its record all-absent, never half-filled.
class DeviceRecordFill {
 public:
  explicit DeviceRecordFill(DeviceRecord& record) : record_(record) {}
  ~DeviceRecordFill() {
    if (!kept_) {
      Clear(record_.deviceKeyName);
      Clear(record_.firstUsed);
      Clear(record_.lastAttached);
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

// The earliest or the latest of the times offered, with its time text. A time is rendered only when it
// would be kept, and one that has no time text is passed over.
class TimeChoice {
 public:
  enum class Keep { kEarliest, kLatest };
  explicit TimeChoice(Keep keep) : keep_(keep) {}

  // Offers a time in FILETIME units (UTC); zero, as an unread date, is no time.
  void Offer(std::uint64_t written) {
    const bool better = keep_ == Keep::kEarliest ? written < written_ : written > written_;
    if (written != 0 && (text_[0] == L'\0' || better) && FormatTimeText(written, text_)) {
      written_ = written;
    }
  }

  // The time text kept: empty when no time was.
  const wchar_t* Text() const { return text_; }
  std::uint64_t Written() const { return written_; }

 private:
  Keep keep_;
  std::uint64_t written_ = 0;
  wchar_t text_[kTimeTextCapacity] = {};
};

// Offers every time that the instance keys of `deviceType` hold: each key's last-write time, and the dates
// Windows keeps of the instance. The key's time is read first: opening an instance to read its dates may
// itself write the key (Wine's SetupAPI stores the device's class there). `instanceId` holds
// "<enumerator>\<device key name>\" at `prefixUnits`; each instance's name is put after it. False when an
// allocation fails.
bool OfferInstanceTimes(const RegKey& deviceType, const DevicePropertyReader& properties, wchar_t* instanceId,
                        std::size_t prefixUnits, wchar_t* scratch, TimeChoice& first,
                        TimeChoice& lastAttached) {
  const int instanceCount = deviceType.SubkeyCount();
  for (int i = 0; i < instanceCount; ++i) {
    ClearScratch(scratch);
    if (!deviceType.EnumSubkey(scratch, kScratchUnits, static_cast<DWORD>(i))) {
      continue;
    }
    OpenedKey instance(deviceType.Handle(), scratch);
    if (!instance) {
      return false;
    }
    ULONGLONG written = 0;
    if (instance->LastWriteTime(&written)) {
      first.Offer(written);
    }
    instance.Reset();
    std::size_t length = prefixUnits;
    if (!AppendBounded(instanceId, kInstanceIdUnits, length, scratch)) {
      continue;
    }
    const DeviceDates dates = properties.Read(instanceId);
    for (const ULONGLONG date : {dates.install, dates.firstInstall, dates.lastArrival, dates.lastRemoval}) {
      first.Offer(date);
    }
    lastAttached.Offer(dates.lastArrival);
    lastAttached.Offer(dates.lastRemoval);
  }
  return true;
}

// Stores the first instance key's two values, and the device's first use and last arrival or removal.
// False when an allocation fails.
bool StoreKeyData(const RegKey& deviceType, const RegKey& instance, const DeviceTypeSource& source,
                  wchar_t* scratch, DeviceRecord& record) {
  ClearScratch(scratch);
  instance.FindStringValue(scratch, kScratchUnits, L"FriendlyName");
  record.friendlyName = NewRecordStringFromScratch(scratch);
  if (!record.friendlyName) {
    return false;
  }
  ClearScratch(scratch);
  instance.FindStringValue(scratch, kScratchUnits, L"DeviceDesc");
  record.description = NewRecordStringFromScratch(scratch);
  if (!record.description) {
    return false;
  }

  TimeChoice first(TimeChoice::Keep::kEarliest);
  TimeChoice lastAttached(TimeChoice::Keep::kLatest);
  ULONGLONG written = 0;
  if (deviceType.LastWriteTime(&written)) {
    first.Offer(written);
  }
  // A prefix cut short fills the buffer, so that no instance's name fits after it and no instance's dates
  // are read under a wrong ID.
  wchar_t instanceId[kInstanceIdUnits] = {};
  std::size_t prefixUnits = 0;
  for (const wchar_t* piece :
       {source.enumerator, L"\\", static_cast<const wchar_t*>(record.deviceKeyName), L"\\"}) {
    AppendBounded(instanceId, kInstanceIdUnits, prefixUnits, piece);
  }
  if (!OfferInstanceTimes(deviceType, source.properties, instanceId, prefixUnits, scratch, first,
                          lastAttached)) {
    return false;
  }
  record.firstUsed = NewRecordString(first.Text(), std::wcslen(first.Text()));
  record.firstWritten = first.Written();
  record.lastAttached = NewRecordString(lastAttached.Text(), std::wcslen(lastAttached.Text()));
  record.lastAttachedWritten = lastAttached.Written();
  return record.firstUsed && record.lastAttached;
}

}  // namespace

bool StoreDeviceType(const DeviceTypeSource& source, wchar_t* scratch, DeviceRecord& record) {
  DeviceRecordFill fill(record);
  record.deviceKeyName = NewRecordStringFromScratch(scratch);
  if (!record.deviceKeyName) {
    return false;
  }
  OpenedKey deviceType(source.parent.Handle(), scratch);
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
  const bool stored = StoreKeyData(*deviceType, *instance, source, scratch, record);
  deviceType.Reset();
  instance.Reset();
  if (stored) {
    fill.Keep();
  }
  return stored;
}
