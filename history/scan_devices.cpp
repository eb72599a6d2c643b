#include "history/device_history.h"
#include "history/scan_support.h"
#include "registry/reg_key.h"

namespace {

constexpr wchar_t kUsbstorPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

}  // namespace

void DeviceHistory::ScanDevices(const DevicePropertyReader& properties) {
  RecordSlots<DeviceRecord> slots(devices, deviceCount);
  RunGuarded([&] {
    OpenedKey usbstor(HKEY_LOCAL_MACHINE, kUsbstorPath);
    if (!usbstor) {
      return;
    }
    const int typeCount = usbstor->SubkeyCount();
    if (!slots.Reserve(typeCount)) {
      return;
    }
    const DeviceTypeSource source = {*usbstor, L"USBSTOR", properties};
    for (int index = 0; index < typeCount && !slots.Full(); ++index) {
      Scratch scratch = NewScratch();
      if (!scratch) {
        return;
      }
      // A device-type key gone by now (removed after USBSTOR was counted) gives no record.
      if (!usbstor->EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(index))) {
        continue;
      }
      if (!StoreDeviceType(source, scratch.get(), slots.Next())) {
        return;
      }
      slots.Stored();
    }
  });
}
