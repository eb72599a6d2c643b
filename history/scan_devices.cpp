#include <new>

#include "history/device_history.h"
#include "history/scan_support.h"
#include "registry/reg_key.h"

namespace {

constexpr wchar_t kUsbstorPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

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

// Fills `record` from the device-type key at `index` under USBSTOR and its first instance key. A
// device-type key that is gone by now (removed after USBSTOR was counted) leaves the record absent. False
// when an allocation fails; the record is then absent too.
bool ScanDeviceType(const RegKey& usbstor, int index, DeviceRecord& record) {
  Scratch scratch = NewScratch();
  if (!scratch) {
    return false;
  }
  if (!usbstor.EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(index))) {
    return true;
  }
  DeviceRecordFill fill(record);
  record.deviceKeyName = NewRecordStringFromScratch(scratch.get());
  if (!record.deviceKeyName) {
    return false;
  }
  OpenedKey deviceType(usbstor.Handle(), scratch.get());
  if (!deviceType) {
    return false;
  }
  // No instance key leaves the name empty, and the empty name opens the device-type key itself again,
  // so that its own values stand in for the instance key's.
  ClearScratch(scratch.get());
  deviceType->EnumSubkey(scratch.get(), kScratchUnits, 0);
  OpenedKey instance(deviceType->Handle(), scratch.get());
  if (!instance) {
    return false;
  }
  const bool stored = StoreKeyData(*deviceType, *instance, scratch.get(), record);
  deviceType.Reset();
  instance.Reset();
  if (stored) {
    fill.Keep();
  }
  return stored;
}

}  // namespace

void DeviceHistory::ScanDevices() {
  deviceCount = 0;
  // Nothing here throws; the guard keeps any fault inside the scan. The keys and the scratch are owned
  // by scope, so leaving early by a failed allocation or a fault releases them alike.
  try {
    OpenedKey usbstor(HKEY_LOCAL_MACHINE, kUsbstorPath);
    if (!usbstor) {
      return;
    }
    deviceCount = usbstor->SubkeyCount();
    if (deviceCount <= 0) {
      return;
    }
    devices = new (std::nothrow) DeviceRecord[deviceCount];
    if (!devices) {
      return;
    }
    for (int i = 0; i < deviceCount; ++i) {
      if (!ScanDeviceType(*usbstor, i, devices[i])) {
        return;
      }
    }
  } catch (...) {
  }
}
