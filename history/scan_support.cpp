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

void FreeString(wchar_t*& text) {
  delete[] text;
  text = nullptr;
}

}  // namespace

void FreeStrings(DeviceRecord& record) {
  FreeString(record.deviceKeyName);
  FreeString(record.firstUsed);
  FreeString(record.lastArrivalOrRemoval);
  FreeString(record.friendlyName);
  FreeString(record.description);
}

void FreeStrings(InterfaceRecord& record) {
  FreeString(record.deviceKeyName);
  FreeString(record.lastUsed);
}

namespace {

// The device instance ID under which SetupAPI knows an instance key: "<enumerator>\<device key
// name>\<instance>", at most 3 + 255 + 255 units beside the enumerator's name.
constexpr std::size_t kInstanceIdUnits = 600;

// The earliest or the latest of the times offered, with its time text. A time is rendered only when it
// would be kept, and one that has no time text is passed over.
class TimeChoice {
 public:
  enum class Pick { kEarliest, kLatest };
  explicit TimeChoice(Pick pick) : pick_(pick) {}

  // Offers a time in FILETIME units (UTC); zero, as an unread date, is no time.
  void Offer(std::uint64_t time) {
    const bool better = pick_ == Pick::kEarliest ? time < time_ : time > time_;
    if (time != 0 && (text_[0] == L'\0' || better) && FormatTimeText(time, text_)) {
      time_ = time;
    }
  }

  // Offers a key's last-write time, when it can be read.
  void OfferLastWrite(const RegKey& key) {
    ULONGLONG written = 0;
    if (key.LastWriteTime(&written)) {
      Offer(written);
    }
  }

  // The time text kept: empty when no time was.
  const wchar_t* Text() const { return text_; }
  std::uint64_t Time() const { return time_; }

 private:
  Pick pick_;
  std::uint64_t time_ = 0;
  wchar_t text_[kTimeTextCapacity] = {};
};

// The times that one device-type key holds of its device: the earliest of all (its first use) and the
// latest last arrival or removal of its instances.
class DeviceTimes {
 public:
  // `deviceKeyName` names the key under `source`'s enumerator. An instance ID prefix cut short fills the
  // buffer, so that no instance's name fits after it and no instance's dates are read under a wrong ID.
  DeviceTimes(const DeviceTypeSource& source, const wchar_t* deviceKeyName) : properties_(source.properties) {
    for (const wchar_t* piece : {source.enumerator, L"\\", deviceKeyName, L"\\"}) {
      AppendBounded(instanceId_, kInstanceIdUnits, prefixUnits_, piece);
    }
  }
  DeviceTimes(const DeviceTimes&) = delete;
  DeviceTimes& operator=(const DeviceTimes&) = delete;

  // Offers every time that `deviceType` and its instance keys hold: each key's last-write time, and the
  // dates Windows keeps of each instance. An instance key's time is read before its dates: opening an
  // instance to read its dates may itself write the key (Wine's SetupAPI stores the device's class there).
  // False when an allocation fails. Uses `scratch` for the instance names.
  bool Offer(const RegKey& deviceType, wchar_t* scratch) {
    firstUse.OfferLastWrite(deviceType);
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
      firstUse.OfferLastWrite(*instance);
      instance.Reset();
      std::size_t length = prefixUnits_;
      if (!AppendBounded(instanceId_, kInstanceIdUnits, length, scratch)) {
        continue;
      }
      const DeviceDates dates = properties_.Read(instanceId_);
      for (const ULONGLONG date : {dates.install, dates.firstInstall, dates.lastArrival, dates.lastRemoval}) {
        firstUse.Offer(date);
      }
      lastArrivalOrRemoval.Offer(dates.lastArrival);
      lastArrivalOrRemoval.Offer(dates.lastRemoval);
    }
    return true;
  }

  TimeChoice firstUse{TimeChoice::Pick::kEarliest};
  TimeChoice lastArrivalOrRemoval{TimeChoice::Pick::kLatest};

 private:
  const DevicePropertyReader& properties_;
  wchar_t instanceId_[kInstanceIdUnits] = {};
  std::size_t prefixUnits_ = 0;
};

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

  DeviceTimes times(source, record.deviceKeyName);
  if (!times.Offer(deviceType, scratch)) {
    return false;
  }
  record.firstUsed = NewRecordString(times.firstUse.Text(), std::wcslen(times.firstUse.Text()));
  record.firstUsedTime = times.firstUse.Time();
  record.lastArrivalOrRemoval =
      NewRecordString(times.lastArrivalOrRemoval.Text(), std::wcslen(times.lastArrivalOrRemoval.Text()));
  record.lastArrivalOrRemovalTime = times.lastArrivalOrRemoval.Time();
  return record.firstUsed && record.lastArrivalOrRemoval;
}

}  // namespace

bool StoreDeviceType(const DeviceTypeSource& source, wchar_t* scratch, DeviceRecord& record) {
  RecordFill<DeviceRecord> fill(record);
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
    fill.Complete();
  }
  return stored;
}
