#pragma once

#include <cstdint>

struct InterfaceRecord;
class DevicePropertyReader;

// Where Windows enumerates a USB storage device: USBSTOR for the mass-storage class driver, SCSI for a
// UAS drive (USB Attached SCSI, Windows 8 and later). A device joins only its own bus's interface entries.
enum class DeviceBus : std::uint8_t { kUsbstor, kUas };

// One device-type key under USBSTOR, or of a UAS drive under Enum\SCSI. Every string is owned by the
// store (its own heap allocation made by NewRecordString) and is null while absent; an empty string is
// present.
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
  wchar_t* lastAttached = nullptr;
  // The times that firstUsed and lastAttached render, as the registry keeps them (UTC, FILETIME units);
  // each meaningful only while its text is not empty.
  std::uint64_t firstWritten = 0;
  std::uint64_t lastAttachedWritten = 0;
  // Not owned; set only by correlation: the texts the report prints as the device's first use (the
  // earliest of firstUsed and the times of its entries) and, when it has an entry, its last use (the
  // latest of its entries and lastAttached).
  const wchar_t* firstUse = nullptr;
  const wchar_t* lastUse = nullptr;
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
  std::uint64_t lastWritten = 0;
};

// Everything the registry scans of one run found. Records in use run from index 0 up to, not including,
// the count; a count of zero or less means none, and a count may be positive while its array is null
// (a scan ended by a failed allocation), so every reader tests the array before touching it.
// Arrays and strings are allocated with new[] (nothrow) and freed only by Release().
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

  // Correlates and appends the report to `text`, a zero-terminated buffer of kReportTextUnits units, after
  // whatever it already holds. Stops before the first piece that would not fit, so the text is always
  // terminated within the buffer.
  void ComposeReport(wchar_t* text);

  // Frees every string in use and all three arrays, then leaves the store empty, so a second call frees
  // nothing.
  void Release();

  InterfaceRecord* interfaces;
  std::int32_t interfaceCount;
  DeviceRecord* devices;  // USBSTOR's device-type keys, one record per subkey counted
  std::int32_t deviceCount;
  // The UAS drives, in the order Enum\SCSI enumerates their keys; the array may be longer than the count.
  DeviceRecord* uasDevices;
  std::int32_t uasDeviceCount;

 private:
  void ScanDevices(const DevicePropertyReader& properties);
  void ScanUasDevices(const DevicePropertyReader& properties);
  void ScanInterfaces();
};

// The report buffer: 1,048,576 UTF-16 units, so at most 1,048,575 units of text and the terminator.
constexpr std::int32_t kReportTextUnits = 1048576;
