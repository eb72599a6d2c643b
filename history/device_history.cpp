#include "history/device_history.h"

#include <cwchar>

namespace {

// Whether `entry` is at least as late a use as `linked`: a time read beats none, then the later time
// wins, compared as the registry keeps it (local time texts can run backwards when summer time ends).
bool IsNoEarlierThan(const InterfaceRecord& entry, const InterfaceRecord& linked) {
  const bool entryHasTime = entry.lastUsed && entry.lastUsed[0] != L'\0';
  const bool linkedHasTime = linked.lastUsed && linked.lastUsed[0] != L'\0';
  if (entryHasTime != linkedHasTime) {
    return entryHasTime;
  }
  return !entryHasTime || entry.lastWritten >= linked.lastWritten;
}

// Links each device of one array to the latest of the interface records of `bus` that carry its device
// key name. Every interface record is visited, so all of a device's entries are marked; among equally late
// ones the last in array order (disk before CD-ROM, each in enumeration order) is the one linked.
void CorrelateDevices(DeviceRecord* devices, std::int32_t deviceCount, DeviceBus bus,
                      InterfaceRecord* interfaces, std::int32_t interfaceCount) {
  if (!devices) {
    return;
  }
  for (std::int32_t d = 0; d < deviceCount; ++d) {
    DeviceRecord& device = devices[d];
    if (!device.deviceKeyName) {
      continue;
    }
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      InterfaceRecord& entry = interfaces[i];
      if (entry.bus == bus && entry.deviceKeyName &&
          std::wcscmp(entry.deviceKeyName, device.deviceKeyName) == 0) {
        if (!device.interface || IsNoEarlierThan(entry, *device.interface)) {
          device.interface = &entry;
        }
        entry.matched = 1;
      }
    }
  }
}

void ReleaseDevices(DeviceRecord*& devices, std::int32_t& deviceCount) {
  if (devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      delete[] devices[d].deviceKeyName;
      delete[] devices[d].friendlyName;
      delete[] devices[d].description;
      delete[] devices[d].firstUsed;
    }
  }
  delete[] devices;
  devices = nullptr;
  deviceCount = 0;
}

}  // namespace

DeviceHistory::DeviceHistory() {
  devices = nullptr;
  ScanDevices();
  uasDevices = nullptr;
  ScanUasDevices();
  interfaces = nullptr;
  ScanInterfaces();
}

DeviceHistory::DeviceHistory(Unscanned)
    : interfaces(nullptr),
      interfaceCount(0),
      devices(nullptr),
      deviceCount(0),
      uasDevices(nullptr),
      uasDeviceCount(0) {}

void DeviceHistory::Correlate() {
  if (!interfaces) {
    return;
  }
  CorrelateDevices(devices, deviceCount, DeviceBus::kUsbstor, interfaces, interfaceCount);
  CorrelateDevices(uasDevices, uasDeviceCount, DeviceBus::kUas, interfaces, interfaceCount);
}

void DeviceHistory::Release() {
  ReleaseDevices(devices, deviceCount);
  ReleaseDevices(uasDevices, uasDeviceCount);
  if (interfaces) {
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      delete[] interfaces[i].deviceKeyName;
      delete[] interfaces[i].lastUsed;
    }
  }
  delete[] interfaces;
  interfaces = nullptr;
  interfaceCount = 0;
}
