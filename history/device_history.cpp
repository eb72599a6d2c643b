#include "history/device_history.h"

#include <cwchar>

#include "history/scan_support.h"
#include "registry/device_properties.h"

namespace {

// A time as the report prints it and as the registry keeps it (UTC, FILETIME units), to be compared: local
// time texts can run backwards when summer time ends. Without text (null or empty) there is no time.
struct TimeMark {
  const wchar_t* text;
  std::uint64_t time;

  bool Known() const { return text && text[0] != L'\0'; }
};

// Whether `time` is at least as late as `kept`: a known time beats none, then the later time wins.
bool IsNoEarlierThan(const TimeMark& time, const TimeMark& kept) {
  if (time.Known() != kept.Known()) {
    return time.Known();
  }
  return !time.Known() || time.time >= kept.time;
}

// Whether `time` is known and earlier than `kept`, or than no known time at all.
bool IsEarlierThan(const TimeMark& time, const TimeMark& kept) {
  return time.Known() && (!kept.Known() || time.time < kept.time);
}

TimeMark EntryTime(const InterfaceRecord& entry) {
  return {entry.lastUsed, entry.lastUsedTime};
}

// Links each device of one array to the latest of the interface records of `bus` that carry its device
// key name, and sets its first and last use. Every interface record is visited, so all of a device's
// entries are marked; among equally late ones the last in array order (disk before CD-ROM, each in
// enumeration order) is the one linked.
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
    TimeMark earliest = {device.firstUsed, device.firstUsedTime};
    for (std::int32_t i = 0; interfaces && i < interfaceCount; ++i) {
      InterfaceRecord& entry = interfaces[i];
      if (entry.bus == bus && entry.deviceKeyName &&
          std::wcscmp(entry.deviceKeyName, device.deviceKeyName) == 0) {
        if (!device.interface || IsNoEarlierThan(EntryTime(entry), EntryTime(*device.interface))) {
          device.interface = &entry;
        }
        if (IsEarlierThan(EntryTime(entry), earliest)) {
          earliest = EntryTime(entry);
        }
        entry.matched = 1;
      }
    }
    device.reportedFirstUse = earliest.text;
    device.reportedLastUse = nullptr;
    if (device.interface) {
      const TimeMark lastDate = {device.lastArrivalOrRemoval, device.lastArrivalOrRemovalTime};
      const TimeMark latestEntry = EntryTime(*device.interface);
      device.reportedLastUse = IsNoEarlierThan(latestEntry, lastDate) ? latestEntry.text : lastDate.text;
    }
  }
}

// Frees the strings of the records in use and the array, and leaves the array null and its count zero.
template <typename Record>
void ReleaseRecords(Record*& records, std::int32_t& count) {
  for (std::int32_t r = 0; records && r < count; ++r) {
    FreeStrings(records[r]);
  }
  delete[] records;
  records = nullptr;
  count = 0;
}

}  // namespace

DeviceHistory::DeviceHistory() {
  const DevicePropertyReader properties;
  devices = nullptr;
  ScanDevices(properties);
  uasDevices = nullptr;
  ScanUasDevices(properties);
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
  CorrelateDevices(devices, deviceCount, DeviceBus::kUsbstor, interfaces, interfaceCount);
  CorrelateDevices(uasDevices, uasDeviceCount, DeviceBus::kScsi, interfaces, interfaceCount);
}

void DeviceHistory::Release() {
  ReleaseRecords(devices, deviceCount);
  ReleaseRecords(uasDevices, uasDeviceCount);
  ReleaseRecords(interfaces, interfaceCount);
}
