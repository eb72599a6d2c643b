#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <new>

#include "history/device_history.h"
#include "history/scan_support.h"
#include "registry/reg_key.h"
#include "text/bounded_text.h"

namespace {

constexpr wchar_t kDiskClassPath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr wchar_t kCdromClassPath[] =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

// An entry of a USB storage device is named "##?#USBSTOR#<device key name>#...", one of a disk or CD-ROM
// that Windows enumerates under SCSI (a UAS drive or an internal disk) "##?#SCSI#<device key name>#...".
// The prefixes are compared exactly, letter case included.
struct EntryPrefix {
  const wchar_t* text;
  std::size_t units;
  DeviceBus bus;
};
constexpr EntryPrefix kEntryPrefixes[] = {{L"##?#USBSTOR#", 12, DeviceBus::kUsbstor},
                                          {L"##?#SCSI#", 9, DeviceBus::kScsi}};

// The prefix that the entry name in `scratch` begins with; null for none.
const EntryPrefix* FindEntryPrefix(const wchar_t* scratch) {
  for (const EntryPrefix& prefix : kEntryPrefixes) {
    if (std::wcsncmp(scratch, prefix.text, prefix.units) == 0) {
      return &prefix;
    }
  }
  return nullptr;
}

// The device key name in an entry's name, whose part after the prefix is `rest`: Windows writes
// "<device key name>#<instance>#<interface class>", every "/" of the device key name as "#" (a card
// reader's "Prod_SD/MMC" becomes "Prod_SD#MMC"). The name therefore runs to the second-to-last "#", each
// "#" in it read back as "/". A rest with fewer than two "#" is not of that form: its name runs to the
// first "#", or is all of it. A new record string; null when the allocation fails.
wchar_t* NewEntryDeviceKeyName(const wchar_t* rest) {
  const std::size_t length = std::wcslen(rest);
  std::size_t first = length, secondToLast = length, last = length;
  for (std::size_t i = 0; i < length; ++i) {
    if (rest[i] == L'#') {
      first = first < length ? first : i;
      secondToLast = last;
      last = i;
    }
  }
  const std::size_t units = secondToLast < length ? secondToLast : first;
  wchar_t* name = NewRecordString(rest, units);
  if (name) {
    std::replace(name, name + units, L'#', L'/');
  }
  return name;
}

int CountOrZero(const RegKey& classKey) {
  const int count = classKey.SubkeyCount();
  return count < 0 ? 0 : count;
}

// Fills `record` from the accepted entry whose whole name, beginning with `prefix`, is in `scratch`. False
// when an allocation fails; the record is then absent.
bool StoreEntry(const RegKey& classKey, const EntryPrefix& prefix, wchar_t* scratch,
                InterfaceRecord& record) {
  RecordFill<InterfaceRecord> fill(record);
  record.bus = prefix.bus;
  record.deviceKeyName = NewEntryDeviceKeyName(scratch + prefix.units);
  if (!record.deviceKeyName) {
    return false;
  }
  // The "#" subkey is opened by its path under the class key, "<entry name>\#", in one step (no key name
  // holds a "\"). An entry name has at most 255 units, so the path always fits the scratch; one that did
  // not would open nothing rather than the entry itself.
  std::size_t pathUnits = wcsnlen(scratch, kScratchUnits - 1);
  const bool pathFits = AppendBounded(scratch, kScratchUnits, pathUnits, L"\\#");
  OpenedKey lastUse(pathFits ? classKey.Handle() : nullptr, scratch);
  if (!lastUse) {
    return false;
  }
  // A "#" subkey (or entry) that is missing or unreadable leaves the scratch empty: an empty last use, not
  // an absent one.
  ClearScratch(scratch);
  lastUse->LastWriteText(scratch, &record.lastUsedTime);
  record.lastUsed = NewRecordStringFromScratch(scratch);
  lastUse.Reset();
  if (!record.lastUsed) {
    return false;
  }
  fill.Complete();
  return true;
}

// Reads the entries of one class key into the free slots. The entry count is read anew before every entry,
// since entries may come and go meanwhile; entries still coming once every slot is filled are left out.
// False when an allocation fails.
bool ScanEntries(const RegKey& classKey, RecordSlots<InterfaceRecord>& slots) {
  for (int index = 0;; ++index) {
    const int count = classKey.SubkeyCount();
    if (count < 0 || index >= count || slots.Full()) {
      return true;
    }
    Scratch scratch = NewScratch();
    if (!scratch) {
      return false;
    }
    // A failed enumeration leaves the name empty, and the empty name is rejected like any other.
    classKey.EnumSubkey(scratch.get(), kScratchUnits, static_cast<DWORD>(index));
    const EntryPrefix* prefix = FindEntryPrefix(scratch.get());
    if (!prefix) {
      continue;
    }
    if (!StoreEntry(classKey, *prefix, scratch.get(), slots.Next())) {
      return false;
    }
    slots.Stored();
  }
}

}  // namespace

void DeviceHistory::ScanInterfaces() {
  RecordSlots<InterfaceRecord> slots(interfaces, interfaceCount);
  RunGuarded([&] {
    OpenedKey disk(HKEY_LOCAL_MACHINE, kDiskClassPath);
    if (!disk) {
      return;
    }
    OpenedKey cdrom(HKEY_LOCAL_MACHINE, kCdromClassPath);
    if (!cdrom) {
      return;
    }
    if (slots.Reserve(static_cast<std::int64_t>(CountOrZero(*disk)) + CountOrZero(*cdrom)) &&
        ScanEntries(*disk, slots)) {
      ScanEntries(*cdrom, slots);
    }
    disk.Reset();
    cdrom.Reset();
  });
}
