#pragma once

#include <cstddef>
#include <cstdint>

struct InterfaceRecord;
class DevicePropertyReader;

// Where Windows enumerates a disk or CD-ROM: USBSTOR for the USB mass-storage class driver; SCSI for a UAS
// drive (USB Attached SCSI, Windows 8 and later) and for every internal disk alike. A device joins only its
// own bus's interface entries.
enum class DeviceBus : std::uint8_t { kUsbstor, kScsi };

// One device-type key under USBSTOR, or of a UAS drive under Enum\SCSI. Every string is owned by the
// store (its own new[] allocation) and is null while absent; an empty string is present.
// The COM headers (<objbase.h>, pulled in by <shlobj.h>) define `interface` as a macro: a file that needs
// them and this header includes them after it and does not name the field afterwards.
struct DeviceRecord {
  InterfaceRecord* interface = nullptr;  // not owned; set only by correlation: its latest entry
  wchar_t* description = nullptr;        // "DeviceDesc" of the first instance key
  wchar_t* deviceKeyName = nullptr;      // the device-type key's name: the join key
  wchar_t* friendlyName = nullptr;       // "FriendlyName" of the first instance key
  // Time text of the earliest time the registry holds of the device itself: the last-write times of its
  // device-type key and of every instance key, and every instance's install, first install, last arrival
  // and last removal dates. Empty when none could be read.
  wchar_t* firstUsed = nullptr;
  // Time text of the latest last arrival or last removal date of its instances (Windows 8 and later keep
  // them); empty when there is none.
  wchar_t* lastArrivalOrRemoval = nullptr;
  // The times that firstUsed and lastArrivalOrRemoval render, as the registry keeps them (UTC, FILETIME
  // units); each meaningful only while its text is not empty.
  std::uint64_t firstUsedTime = 0;
  std::uint64_t lastArrivalOrRemovalTime = 0;
  // Not owned; set only by correlation: the texts the report prints as the device's first use (the
  // earliest of firstUsed and the times of its entries) and, when it has an entry, its last use (the
  // latest of its entries and lastArrivalOrRemoval).
  const wchar_t* reportedFirstUse = nullptr;
  const wchar_t* reportedLastUse = nullptr;
};

// One disk or CD-ROM device-interface entry of a USB storage device ("##?#USBSTOR#...") or of a disk that
// Windows enumerates under SCSI ("##?#SCSI#..."), which is a UAS drive only when a UAS device has its key
// name: the others are internal disks, and no report lists them.
// Windows names an entry "<prefix><device key name>#<instance>#<interface class>", with every "/" of the
// device key name written as "#"; the record holds the name as the device key has it, "/" and all.
struct InterfaceRecord {
  std::uint8_t matched = 0;          // 1 once correlation found a device of its bus with the same key name
  wchar_t* deviceKeyName = nullptr;  // the device key name that the entry's name carries
  wchar_t* lastUsed = nullptr;       // time text of the entry's "#" subkey's last-write time
  DeviceBus bus = DeviceBus::kUsbstor;
  // The time that lastUsed renders, as the registry keeps it (UTC, FILETIME units), to find a device's
  // latest entry; meaningful only while lastUsed is not empty (an empty one: no time could be read).
  std::uint64_t lastUsedTime = 0;
};

// Everything the registry scans of one run found. Each array has a slot for every key its scan counted;
// the records in use are filled from index 0 up to, not including, the count, which counts the records
// stored whole (a key that gave none, or a scan ended by a failed allocation, leaves the rest of the array
// unused). A count is never negative and is zero while its array is null; every reader tests the array
// before touching it all the same. Arrays and strings are allocated with new[] (nothrow) and freed only by
// Release().
class DeviceHistory {
 public:
  // Scans the registry: the USB storage devices, the UAS drives (each with its instances' dates, read
  // through the device property function where Windows has it), then the device-interface entries. Never
  // fails; what cannot be read is missing from the store.
  DeviceHistory();

  // A store with no arrays and zero counts, to be filled by its owner (the tests) instead of the scans.
  struct Unscanned {};
  explicit DeviceHistory(Unscanned);

  DeviceHistory(const DeviceHistory&) = delete;
  DeviceHistory& operator=(const DeviceHistory&) = delete;

  // Links each device to the interface records of its bus with the same device key name (case-sensitive,
  // whole string): every such record is marked, and the device links its latest, the one whose "#" subkey
  // was written last. A record without a time is older than any with one; of records equally late (or all
  // without a time) the last in array order is linked. Then sets each device's first use, the earliest
  // time among its own and its records', and, for a device with a record, its last use, the later of its
  // latest record and its last arrival or removal. Times are compared as the registry keeps them.
  void Correlate();

  // Frees every string in use and all three arrays, then leaves the store empty, so a second call frees
  // nothing.
  void Release();

  InterfaceRecord* interfaces;
  std::int32_t interfaceCount;
  DeviceRecord* devices;  // USBSTOR's device-type keys, in the order USBSTOR enumerates them
  std::int32_t deviceCount;
  // The UAS drives, in the order Enum\SCSI enumerates their keys.
  DeviceRecord* uasDevices;
  std::int32_t uasDeviceCount;

 private:
  void ScanDevices(const DevicePropertyReader& properties);
  void ScanUasDevices(const DevicePropertyReader& properties);
  void ScanInterfaces();
};
