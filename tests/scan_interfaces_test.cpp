#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/alloc_hooks.h"
#include "support/scan_rows.h"
#include "support/scratch_registry.h"

namespace {

const std::wstring kDisk =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::wstring kCdrom =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";

// Device key name and last use of the first `records` interface records.
std::vector<Row> InterfaceRows(const DeviceHistory& store, int records) {
  std::vector<Row> rows;
  for (int i = 0; store.interfaces && i < records; ++i) {
    rows.push_back({Field(store.interfaces[i].deviceKeyName), TimeField(store.interfaces[i].lastUsed)});
  }
  return rows;
}

const Row kAbsentRow = {kAbsent, kAbsent};

struct Entry {
  std::wstring name;
  bool hasLastUseKey;
};

Entry Usb(const std::wstring& rest) {
  return {L"##?#USBSTOR#" + rest, true};
}
Entry Other(const std::wstring& name) {
  return {name, true};
}

void AddEntries(ScratchRegistry& registry, const std::wstring& classKey, const std::vector<Entry>& entries) {
  registry.CreateKey(classKey);
  for (const Entry& entry : entries) {
    registry.CreateKey(classKey + L"\\" + entry.name + (entry.hasLastUseKey ? L"\\#" : L""));
  }
}

struct LayoutCase {
  const char* what;
  std::optional<std::vector<Entry>> disk;  // nullopt: no class key
  std::optional<std::vector<Entry>> cdrom;
  int slots;  // 0: no array
  int interfaceCount;
  std::vector<Row> rows;
};

std::vector<LayoutCase> LayoutCases() {
  const std::wstring guid = L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  return {
      {"no class keys", std::nullopt, std::nullopt, 0, 0, {}},
      {"class keys without entries", std::vector<Entry>{}, std::vector<Entry>{}, 0, 0, {}},
      {"no USB storage entries",
       std::vector<Entry>{Other(L"STORAGE#Volume#1"), Other(L"IDE#DiskX#2")},
       std::vector<Entry>{Other(L"SCSI#CdRom#3")},
       3,
       0,
       {}},
      {"disk entries only",
       std::vector<Entry>{Usb(L"Disk&Ven_A#1" + guid), Other(L"STORAGE#Volume#1"),
                          Usb(L"Disk&Ven_B#2" + guid)},
       std::nullopt,
       3,
       2,
       {{L"Disk&Ven_A", L"<time>"}, {L"Disk&Ven_B", L"<time>"}}},
      {"prefix tested over all 12 units, letter case included",
       std::vector<Entry>{Usb(L"Disk&Ven_Upper#1"), Other(L"##?#usbstor#Disk&Ven_Lower#1"),
                          Other(L"##?#USBSTO"), Other(L"##?#USBSTOR")},
       std::vector<Entry>{},
       4,
       1,
       {{L"Disk&Ven_Upper", L"<time>"}}},
      {"device key name cut at the next #",
       std::vector<Entry>{Usb(L""), Usb(L"Disk&Ven_Whole"), Usb(L"Disk&Ven_Cut#Rest#More")},
       std::nullopt,
       3,
       3,
       {{L"", L"<time>"}, {L"Disk&Ven_Cut", L"<time>"}, {L"Disk&Ven_Whole", L"<time>"}}},
      {"no # subkey: empty last use",
       std::vector<Entry>{{L"##?#USBSTOR#Disk&Ven_NoHash#1", false}},
       std::nullopt,
       1,
       1,
       {{L"Disk&Ven_NoHash", L""}}},
      {"duplicates in and across both class keys, disk first",
       std::vector<Entry>{Usb(L"Disk&Ven_X#1" + guid), Usb(L"Disk&Ven_X#2" + guid),
                          Other(L"STORAGE#Volume#1")},
       std::vector<Entry>{Usb(L"Disk&Ven_X#3"), Other(L"IDE#CdRom#1"), Usb(L"CdRom&Ven_Y#1")},
       6,
       4,
       {{L"Disk&Ven_X", L"<time>"},
        {L"Disk&Ven_X", L"<time>"},
        {L"CdRom&Ven_Y", L"<time>"},
        {L"Disk&Ven_X", L"<time>"}}},
  };
}

TEST(ScanInterfacesTest, RecordsFollowTheUsbStorageEntries) {
  for (const LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.what);
    ScratchRegistry registry(L"ScanInterfaces.Layout");
    if (c.disk) {
      AddEntries(registry, kDisk, *c.disk);
    }
    if (c.cdrom) {
      AddEntries(registry, kCdrom, *c.cdrom);
    }
    registry.RedirectMachineKey();
    ScannedStore scanned;
    const DeviceHistory& store = scanned.store;
    EXPECT_EQ(store.interfaces == nullptr, c.slots == 0);
    EXPECT_EQ(store.interfaceCount, c.interfaceCount);
    EXPECT_EQ(InterfaceRows(store, store.interfaceCount), c.rows);
    // The slots left over by rejected entries stay untouched.
    const std::vector<Row> all = InterfaceRows(store, c.slots);
    for (std::size_t i = c.rows.size(); i < all.size(); ++i) {
      EXPECT_EQ(all[i], kAbsentRow) << "slot " << i;
    }
    for (int i = 0; store.interfaces && i < c.slots; ++i) {
      EXPECT_EQ(store.interfaces[i].matched, 0);
    }
  }
}

TEST(ScanInterfacesTest, LastUseIsTheHashSubkeysTimeAndJoinsTheDevice) {
  // The entry key was written 2010-06-15 03:04:05 UTC, its "#" subkey 1999-12-31 23:59:59 UTC
  // (tests/fixtures/unit_keys.reg); the device-type key of the same name 2005-01-02 12:34:56 UTC.
  MachineKeyOverride machine(L"Software\\VestigiaFixtures\\Machine");
  ScannedStore scanned;
  ASSERT_EQ(scanned.store.interfaceCount, 1);
  EXPECT_EQ(Field(scanned.store.interfaces[0].deviceKeyName), L"Disk&Ven_Timed&Prod_Stick");
  EXPECT_EQ(Field(scanned.store.interfaces[0].lastUsed), L"2000/01/01  07:59:59");

  std::vector<wchar_t> report(kReportTextUnits);
  scanned.store.ComposeReport(report.data());
  EXPECT_NE(
      std::wcsstr(report.data(), L"首次使用: 2005/01/02  20:34:56\r\n最後使用: 2000/01/01  07:59:59\r\n"),
      nullptr);
}

// The class keys changed while the scan runs, from inside the scan's own allocations.
ScratchRegistry* changed_registry = nullptr;
std::vector<std::wstring> added_entries;
std::vector<std::wstring> removed_entries;

void ChangeDiskEntries() {
  AddEntries(*changed_registry, kDisk, {});
  for (const std::wstring& name : added_entries) {
    changed_registry->CreateKey(kDisk + L"\\" + name + L"\\#");
  }
  for (const std::wstring& name : removed_entries) {
    changed_registry->DeleteKey(kDisk + L"\\" + name);
  }
}

TEST(ScanInterfacesTest, EntriesChangedDuringThePassNeverOverfillOrUncountRecords) {
  struct Case {
    const char* what;
    std::vector<Entry> disk;
    std::optional<std::vector<Entry>> cdrom;
    long changeBefore;  // nothrow allocation: 4 is the record array, 5 the scratch of the first entry
    std::vector<std::wstring> added;
    std::vector<std::wstring> removed;
    int interfaceCount;
    std::vector<Row> rows;  // every slot
  };
  const std::vector<Case> cases = {
      {"added USB entries beyond the slots",
       {Usb(L"A#1"), Other(L"x1"), Other(L"x2")},
       std::nullopt,
       4,
       {L"##?#USBSTOR#B#1", L"##?#USBSTOR#C#1"},
       {},
       3,
       {{L"A", L"<time>"}, {L"B", L"<time>"}, {L"C", L"<time>"}}},
      {"added USB entries take the slots left by rejected ones",
       {Usb(L"A#1"), Other(L"x1")},
       std::vector<Entry>{Usb(L"Z#1")},
       4,
       {L"##?#USBSTOR#B#1"},
       {},
       2,
       {{L"A", L"<time>"}, {L"B", L"<time>"}, kAbsentRow}},
      {"removed entries leave their slots counted and absent",
       {Usb(L"A#1"), Usb(L"B#1"), Usb(L"C#1")},
       std::nullopt,
       5,
       {},
       {L"##?#USBSTOR#C#1"},
       3,
       {{L"A", L"<time>"}, {L"B", L"<time>"}, kAbsentRow}},
  };
  std::vector<wchar_t> report(kReportTextUnits);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchRegistry registry(L"ScanInterfaces.Changed");
    AddEntries(registry, kDisk, c.disk);
    if (c.cdrom) {
      AddEntries(registry, kCdrom, *c.cdrom);
    }
    registry.RedirectMachineKey();
    changed_registry = &registry;
    added_entries = c.added;
    removed_entries = c.removed;
    const long baseline = alloc_hooks::LiveBlocks();
    // No USBSTOR key: the first nothrow allocation is the USBSTOR key object, then the two class keys'.
    alloc_hooks::RunBeforeNthNothrow(c.changeBefore, ChangeDiskEntries);
    {
      ScannedStore scanned;
      EXPECT_FALSE(alloc_hooks::ActionPending());
      EXPECT_EQ(scanned.store.interfaceCount, c.interfaceCount);
      EXPECT_EQ(InterfaceRows(scanned.store, static_cast<int>(c.rows.size())), c.rows);
      report[0] = L'\0';
      scanned.store.ComposeReport(report.data());
      for (const Row& row : c.rows) {
        if (row != kAbsentRow) {
          EXPECT_NE(std::wcsstr(report.data(), (L"裝置名稱: " + row[0] + L"\r\n").c_str()), nullptr)
              << row[0];
        }
      }
    }
    alloc_hooks::RunBeforeNthNothrow(0, nullptr);
    EXPECT_EQ(alloc_hooks::LiveBlocks(), baseline)
        << "records filled beyond interfaceCount were not released";
  }
}

// Fails each nothrow allocation of a store construction in turn. Whatever the scans had stored stays as
// it was; the record being filled is absent; the store can be reported and released without a leak.
TEST(ScanInterfacesTest, EveryFailedAllocationLeavesAConsistentStore) {
  ScratchRegistry registry(L"ScanInterfaces.Allocation");
  registry.SetString(L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_A\\0001", L"FriendlyName", L"A");
  AddEntries(registry, kDisk,
             {Usb(L"Disk&Ven_A#1"), Other(L"STORAGE#Volume#1"), {L"##?#USBSTOR#Disk&Ven_B#1", false}});
  AddEntries(registry, kCdrom, {Other(L"IDE#CdRom#1"), Usb(L"Disk&Ven_A#2")});
  registry.RedirectMachineKey();

  std::vector<Row> complete;
  {
    ScannedStore scanned;
    ASSERT_EQ(scanned.store.interfaceCount, 3);
    complete = InterfaceRows(scanned.store, 5);
  }
  const long constructions = ForEachFailedAllocation([&](const DeviceHistory& store, const wchar_t*) {
    ASSERT_LE(store.interfaceCount, 5);
    const std::vector<Row> rows = InterfaceRows(store, store.interfaceCount);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_TRUE(rows[i] == kAbsentRow || rows[i] == complete[i]) << "record " << i;
    }
    for (int d = 0; store.devices && d < store.deviceCount; ++d) {
      const DeviceRecord& device = store.devices[d];
      const bool absent =
          !device.deviceKeyName && !device.friendlyName && !device.description && !device.firstUsed;
      const bool filled =
          device.deviceKeyName && device.friendlyName && device.description && device.firstUsed;
      EXPECT_TRUE(absent || filled) << "device " << d;
    }
  });
  EXPECT_GT(constructions, 15);
}

}  // namespace
