#include "history/device_history.h"

#include <cwchar>

DeviceHistory::DeviceHistory() {
  devices = nullptr;
  ScanDevices();
  interfaces = nullptr;
  ScanInterfaces();
}

DeviceHistory::DeviceHistory(Unscanned)
    : interfaces(nullptr), interfaceCount(0), devices(nullptr), deviceCount(0) {}

void DeviceHistory::Correlate() {
  if (!devices || !interfaces) {
    return;
  }
  for (std::int32_t d = 0; d < deviceCount; ++d) {
    DeviceRecord& device = devices[d];
    if (!device.deviceKeyName) {
      continue;
    }
    // Every interface record is visited, so all of a device's entries are marked and the last one in
    // array order (disk before CD-ROM, each in enumeration order) is the one linked.
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      InterfaceRecord& entry = interfaces[i];
      if (entry.deviceKeyName && std::wcscmp(entry.deviceKeyName, device.deviceKeyName) == 0) {
        device.interface = &entry;
        entry.matched = 1;
      }
    }
  }
}

void DeviceHistory::Release() {
  if (devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      delete[] devices[d].deviceKeyName;
      delete[] devices[d].friendlyName;
      delete[] devices[d].description;
      delete[] devices[d].firstUsed;
    }
  }
  if (interfaces) {
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      delete[] interfaces[i].deviceKeyName;
      delete[] interfaces[i].lastUsed;
    }
  }
  delete[] devices;
  delete[] interfaces;
  devices = nullptr;
  deviceCount = 0;
  interfaces = nullptr;
  interfaceCount = 0;
}
