#include <cwchar>
#include <new>

#include "history/device_history.h"
#include "history/scan_support.h"
#include "registry/reg_key.h"
#include "text/ascii.h"

// A USB 3 drive that speaks USB Attached SCSI never appears under USBSTOR: Windows (8 and later) runs its
// USB device on the UASPStor service and enumerates its disk under Enum\SCSI, beside the internal disks.
// What ties the two together is the container ID that Windows gives every part of one physical device.

namespace {

constexpr wchar_t kUsbPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB";
constexpr wchar_t kScsiPath[] = L"SYSTEM\\CurrentControlSet\\Enum\\SCSI";
constexpr wchar_t kUasService[] = L"UASPStor";
// The container of the computer itself, which internal devices share: it never names a drive.
constexpr wchar_t kComputerContainer[] = L"{00000000-0000-0000-FFFF-FFFFFFFFFFFF}";
// The device-type keys under Enum\SCSI that can be USB storage; others (an enclosure's SES device, say)
// share the drive's container but store nothing.
constexpr const wchar_t* kStorageTypePrefixes[] = {L"Disk&", L"CdRom&"};

// The container IDs of the USB device instances on the UAS service, each an owned record string,
// compared ignoring ASCII letter case. Empty and the computer's own container are never held.
class UasContainers {
 public:
  UasContainers() = default;
  ~UasContainers() {
    for (std::int32_t i = 0; i < count_; ++i) {
      delete[] containers_[i];
    }
    delete[] containers_;
  }
  UasContainers(const UasContainers&) = delete;
  UasContainers& operator=(const UasContainers&) = delete;

  bool Empty() const { return count_ == 0; }

  // Keeps the container in `scratch` when it can name a drive. False when an allocation fails.
  bool Add(const wchar_t* scratch) {
    if (scratch[0] == L'\0' || EqualsIgnoringAsciiCase(scratch, kComputerContainer) || Contains(scratch)) {
      return true;
    }
    if (count_ == capacity_ && !Grow()) {
      return false;
    }
    wchar_t* container = NewRecordStringFromScratch(scratch);
    if (!container) {
      return false;
    }
    containers_[count_++] = container;
    return true;
  }

  bool Contains(const wchar_t* container) const {
    for (std::int32_t i = 0; i < count_; ++i) {
      if (EqualsIgnoringAsciiCase(containers_[i], container)) {
        return true;
      }
    }
    return false;
  }

 private:
  bool Grow() {
    const std::int32_t capacity = capacity_ ? 2 * capacity_ : 16;
    wchar_t** grown = new (std::nothrow) wchar_t*[capacity];
    if (!grown) {
      return false;
    }
    for (std::int32_t i = 0; i < count_; ++i) {
      grown[i] = containers_[i];
    }
    delete[] containers_;
    containers_ = grown;
    capacity_ = capacity;
    return true;
  }

  wchar_t** containers_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

// Collects the containers of every instance key of every device key under Enum\USB whose own "Service"
// value is UASPStor (the device keys' own values are not read). A missing or unreadable Enum\USB, as on
// Windows XP, gives none. False when an allocation fails.
bool CollectUasContainers(UasContainers& containers) {
  OpenedKey usb(HKEY_LOCAL_MACHINE, kUsbPath);
  Scratch name = NewScratch();
  Scratch value = NewScratch();
  if (!usb || !name || !value) {
    return false;
  }
  const int deviceCount = usb->SubkeyCount();
  for (int d = 0; d < deviceCount; ++d) {
    ClearScratch(name.get());
    if (!usb->EnumSubkey(name.get(), kScratchUnits, static_cast<DWORD>(d))) {
      continue;
    }
    OpenedKey device(usb->Handle(), name.get());
    if (!device) {
      return false;
    }
    const int instanceCount = device->SubkeyCount();
    for (int i = 0; i < instanceCount; ++i) {
      ClearScratch(name.get());
      if (!device->EnumSubkey(name.get(), kScratchUnits, static_cast<DWORD>(i))) {
        continue;
      }
      OpenedKey instance(device->Handle(), name.get());
      if (!instance) {
        return false;
      }
      ClearScratch(value.get());
      instance->FindStringValue(value.get(), kScratchUnits, L"Service");
      if (!EqualsIgnoringAsciiCase(value.get(), kUasService)) {
        continue;
      }
      ClearScratch(value.get());
      instance->FindStringValue(value.get(), kScratchUnits, L"ContainerID");
      if (!containers.Add(value.get())) {
        return false;
      }
    }
  }
  return true;
}

bool IsStorageType(const wchar_t* deviceKeyName) {
  for (const wchar_t* prefix : kStorageTypePrefixes) {
    if (std::wcsncmp(deviceKeyName, prefix, std::wcslen(prefix)) == 0) {
      return true;
    }
  }
  return false;
}

enum class Verdict { kUas, kNotUas, kOutOfMemory };

// Whether any instance key of the device-type key under Enum\SCSI named `deviceKeyName` has a UAS
// container as its "ContainerID".
Verdict JudgeDeviceType(const RegKey& scsi, const wchar_t* deviceKeyName, const UasContainers& containers) {
  OpenedKey deviceType(scsi.Handle(), deviceKeyName);
  Scratch scratch = NewScratch();
  if (!deviceType || !scratch) {
    return Verdict::kOutOfMemory;
  }
  const int instanceCount = deviceType->SubkeyCount();
  for (int i = 0; i < instanceCount; ++i) {
    ClearScratch(scratch.get());
    if (!deviceType->EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(i))) {
      continue;
    }
    OpenedKey instance(deviceType->Handle(), scratch.get());
    if (!instance) {
      return Verdict::kOutOfMemory;
    }
    ClearScratch(scratch.get());
    instance->FindStringValue(scratch.get(), kScratchUnits, L"ContainerID");
    if (containers.Contains(scratch.get())) {
      return Verdict::kUas;
    }
  }
  return Verdict::kNotUas;
}

}  // namespace

void DeviceHistory::ScanUasDevices(const DevicePropertyReader& properties) {
  RecordSlots<DeviceRecord> slots(uasDevices, uasDeviceCount);
  RunGuarded([&] {
    UasContainers containers;
    if (!CollectUasContainers(containers) || containers.Empty()) {
      return;
    }
    OpenedKey scsi(HKEY_LOCAL_MACHINE, kScsiPath);
    if (!scsi) {
      return;
    }
    const int typeCount = scsi->SubkeyCount();
    if (!slots.Reserve(typeCount)) {
      return;
    }
    const DeviceTypeSource source = {*scsi, L"SCSI", properties};
    for (int index = 0; index < typeCount && !slots.Full(); ++index) {
      Scratch scratch = NewScratch();
      if (!scratch) {
        return;
      }
      if (!scsi->EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(index)) ||
          !IsStorageType(scratch.get())) {
        continue;
      }
      const Verdict verdict = JudgeDeviceType(*scsi, scratch.get(), containers);
      if (verdict == Verdict::kOutOfMemory) {
        return;
      }
      if (verdict == Verdict::kUas) {
        if (!StoreDeviceType(source, scratch.get(), slots.Next())) {
          return;
        }
        slots.Stored();
      }
    }
  });
}
