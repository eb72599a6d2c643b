#include <new>

#include "history/device_history.h"
#include "history/scan_support.h"
#include "registry/reg_key.h"

namespace {

constexpr wchar_t kUsbstorPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

// Fills `record` from the device-type key at `index` under USBSTOR. A device-type key that is gone by now
// (removed after USBSTOR was counted) leaves the record absent. False when an allocation fails; the record
// is then absent too.
bool ScanDeviceType(const DeviceTypeSource& usbstor, int index, DeviceRecord& record) {
  Scratch scratch = NewScratch();
  if (!scratch) {
    return false;
  }
  if (!usbstor.parent.EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(index))) {
    return true;
  }
  return StoreDeviceType(usbstor, scratch.get(), record);
}

}  // namespace

void DeviceHistory::ScanDevices(const DevicePropertyReader& properties) {
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
    const DeviceTypeSource source = {*usbstor, L"USBSTOR", properties};
    for (int i = 0; i < deviceCount; ++i) {
      if (!ScanDeviceType(source, i, devices[i])) {
        return;
      }
    }
  } catch (...) {
  }
}
