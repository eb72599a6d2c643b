#include "support/store_builder.h"

#include <cwchar>

wchar_t* OwnedCopy(const wchar_t* text) {
  if (!text) {
    return nullptr;
  }
  std::size_t length = std::wcslen(text);
  wchar_t* copy = new wchar_t[length + 1];
  std::wmemcpy(copy, text, length + 1);
  return copy;
}

void FillDevices(DeviceHistory& store, const std::vector<DeviceFields>& records) {
  FillDevices(store, records, static_cast<int>(records.size()));
}

void FillDevices(DeviceHistory& store, const std::vector<DeviceFields>& records, int count) {
  store.devices = records.empty() ? nullptr : new DeviceRecord[records.size()];
  for (std::size_t i = 0; i < records.size(); ++i) {
    store.devices[i].deviceKeyName = OwnedCopy(records[i].deviceKeyName);
    store.devices[i].friendlyName = OwnedCopy(records[i].friendlyName);
    store.devices[i].description = OwnedCopy(records[i].description);
    store.devices[i].firstUsed = OwnedCopy(records[i].firstUsed);
  }
  store.deviceCount = count;
}

void FillInterfaces(DeviceHistory& store, const std::vector<InterfaceFields>& records) {
  FillInterfaces(store, records, static_cast<int>(records.size()));
}

void FillInterfaces(DeviceHistory& store, const std::vector<InterfaceFields>& records, int slots) {
  std::size_t length = records.size() > static_cast<std::size_t>(slots) ? records.size() : slots;
  store.interfaces = length == 0 ? nullptr : new InterfaceRecord[length];
  for (std::size_t i = 0; i < records.size(); ++i) {
    store.interfaces[i].deviceKeyName = OwnedCopy(records[i].deviceKeyName);
    store.interfaces[i].lastUsed = OwnedCopy(records[i].lastUsed);
  }
  store.interfaceCount = static_cast<int>(records.size());
}
