#pragma once

#include <vector>

#include "history/device_history.h"

// Fills a store the way the scans do (arrays and strings from new[]), so that Release() frees it all.
// A null text stands for an absent field.
struct DeviceFields {
  const wchar_t* deviceKeyName;
  const wchar_t* friendlyName;
  const wchar_t* description;
  const wchar_t* firstUsed;
};

struct InterfaceFields {
  const wchar_t* deviceKeyName;
  const wchar_t* lastUsed;
};

// A copy of `text` on the heap (new[]), or null for null.
wchar_t* OwnedCopy(const wchar_t* text);

// Gives the store a devices array of `records.size()` records and sets deviceCount to `count` (by
// default the number of records).
void FillDevices(DeviceHistory& store, const std::vector<DeviceFields>& records);
void FillDevices(DeviceHistory& store, const std::vector<DeviceFields>& records, int count);

// Gives the store an interfaces array of `slots` records (at least as many as given) and sets
// interfaceCount to the number of records given.
void FillInterfaces(DeviceHistory& store, const std::vector<InterfaceFields>& records);
void FillInterfaces(DeviceHistory& store, const std::vector<InterfaceFields>& records, int slots);
