#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/alloc_hooks.h"
#include "support/scan_rows.h"
#include "support/scratch_registry.h"

namespace {

const std::wstring kUsbstor = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

// Name, friendly name, description, first use.
Row DeviceRow(const DeviceRecord& record) {
  return {Field(record.deviceKeyName), Field(record.friendlyName), Field(record.description),
          TimeField(record.firstUsed)};
}

std::vector<Row> DeviceRows(const DeviceHistory& store) {
  std::vector<Row> rows;
  for (int i = 0; store.devices && i < store.deviceCount; ++i) {
    rows.push_back(DeviceRow(store.devices[i]));
  }
  return rows;
}

const Row kAbsentRow = {kAbsent, kAbsent, kAbsent, kAbsent};

// A device-type key with one instance key holding both values.
void AddDevice(ScratchRegistry& registry, const std::wstring& name, const std::wstring& friendly) {
  registry.SetString(kUsbstor + L"\\" + name + L"\\0001", L"FriendlyName", friendly);
  registry.SetString(kUsbstor + L"\\" + name + L"\\0001", L"DeviceDesc", L"Disk drive");
}

struct LayoutCase {
  const char* what;
  void (*build)(ScratchRegistry&);
  int deviceCount;
  std::vector<Row> rows;  // empty: no array
};

std::vector<LayoutCase> LayoutCases() {
  return {
      {"no USBSTOR key", [](ScratchRegistry&) {}, -1, {}},
      {"USBSTOR without subkeys", [](ScratchRegistry& r) { r.CreateKey(kUsbstor); }, 0, {}},
      {"three device-type keys, in enumeration order",
       [](ScratchRegistry& r) {
         AddDevice(r, L"Disk&Ven_C", L"C USB Device");
         AddDevice(r, L"Disk&Ven_A", L"A USB Device");
         AddDevice(r, L"Disk&Ven_B", L"B USB Device");
       },
       3,
       {{L"Disk&Ven_A", L"A USB Device", L"Disk drive", L"<time>"},
        {L"Disk&Ven_B", L"B USB Device", L"Disk drive", L"<time>"},
        {L"Disk&Ven_C", L"C USB Device", L"Disk drive", L"<time>"}}},
      {"two instance keys: the first one's values",
       [](ScratchRegistry& r) {
         r.SetString(kUsbstor + L"\\Disk&Ven_Two\\0002", L"FriendlyName", L"Second");
         r.SetString(kUsbstor + L"\\Disk&Ven_Two\\0001", L"FriendlyName", L"First");
         r.SetString(kUsbstor + L"\\Disk&Ven_Two\\0001", L"DeviceDesc", L"First disk");
       },
       1,
       {{L"Disk&Ven_Two", L"First", L"First disk", L"<time>"}}},
      {"missing values give empty strings",
       [](ScratchRegistry& r) {
         r.SetString(kUsbstor + L"\\Disk&Ven_NoDesc\\0001", L"FriendlyName", L"No Desc");
         r.SetString(kUsbstor + L"\\Disk&Ven_OtherCase\\0001", L"friendlyname", L"other case");
         r.SetString(kUsbstor + L"\\Disk&Ven_OtherCase\\0001", L"DEVICEDESC", L"other case");
       },
       2,
       {{L"Disk&Ven_NoDesc", L"No Desc", L"", L"<time>"}, {L"Disk&Ven_OtherCase", L"", L"", L"<time>"}}},
      {"no instance key: the device-type key's own values",
       [](ScratchRegistry& r) {
         r.SetString(kUsbstor + L"\\Disk&Ven_Bare", L"DeviceDesc", L"Own description");
         r.CreateKey(kUsbstor + L"\\Disk&Ven_Empty");
       },
       2,
       {{L"Disk&Ven_Bare", L"", L"Own description", L"<time>"}, {L"Disk&Ven_Empty", L"", L"", L"<time>"}}},
  };
}

TEST(ScanDevicesTest, RecordsFollowTheUsbstorKeys) {
  for (const LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.what);
    ScratchRegistry registry(L"ScanDevices.Layout");
    c.build(registry);
    registry.RedirectMachineKey();
    ScannedStore scanned;
    const DeviceHistory& store = scanned.store;
    EXPECT_EQ(store.deviceCount, c.deviceCount);
    EXPECT_EQ(store.devices == nullptr, c.rows.empty());
    EXPECT_EQ(DeviceRows(store), c.rows);
    for (int i = 0; store.devices && i < store.deviceCount; ++i) {
      EXPECT_EQ(store.devices[i].interface, nullptr);
    }
    // The interface scan ran too, and found no class keys.
    EXPECT_EQ(store.interfaces, nullptr);
    EXPECT_EQ(store.interfaceCount, 0);
  }
}

TEST(ScanDevicesTest, FirstUseIsTheDeviceTypeKeysTimeNotTheInstanceKeys) {
  // Device-type key written 2005-01-02 12:34:56 UTC, its instance key 2010-06-15 03:04:05 UTC.
  MachineKeyOverride machine(L"Software\\VestigiaFixtures\\Machine");
  ScannedStore scanned;
  ASSERT_EQ(scanned.store.deviceCount, 1);
  const DeviceRecord& device = scanned.store.devices[0];
  EXPECT_EQ(Field(device.firstUsed), L"2005/01/02  20:34:56");
  EXPECT_EQ(DeviceRow(device),
            (Row{L"Disk&Ven_Timed&Prod_Stick", L"Timed Stick USB Device", L"Disk drive", L"<time>"}));
}

// Device-type keys removed after USBSTOR was counted: the scan must neither stop nor make up a record
// from other keys' data for an index that no longer exists.
ScratchRegistry* removal_registry = nullptr;
std::vector<std::wstring> removed_keys;

void RemoveKeys() {
  for (const std::wstring& name : removed_keys) {
    removal_registry->DeleteKey(kUsbstor + L"\\" + name);
  }
}

TEST(ScanDevicesTest, KeysRemovedAfterTheCountLeaveTheirRecordsAbsent) {
  struct Case {
    std::vector<std::wstring> removed;
    std::vector<Row> rows;
  };
  const Row a = {L"Disk&Ven_A", L"A USB Device", L"Disk drive", L"<time>"};
  const Row b = {L"Disk&Ven_B", L"B USB Device", L"Disk drive", L"<time>"};
  const Row c = {L"Disk&Ven_C", L"C USB Device", L"Disk drive", L"<time>"};
  const std::vector<Case> cases = {
      {{L"Disk&Ven_A"}, {b, c, kAbsentRow}},
      {{L"Disk&Ven_C"}, {a, b, kAbsentRow}},
      {{L"Disk&Ven_A", L"Disk&Ven_B", L"Disk&Ven_C"}, {kAbsentRow, kAbsentRow, kAbsentRow}},
  };
  std::vector<wchar_t> report(kReportTextUnits);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.removed));
    ScratchRegistry registry(L"ScanDevices.Removed");
    AddDevice(registry, L"Disk&Ven_A", L"A USB Device");
    AddDevice(registry, L"Disk&Ven_B", L"B USB Device");
    AddDevice(registry, L"Disk&Ven_C", L"C USB Device");
    registry.RedirectMachineKey();
    removal_registry = &registry;
    removed_keys = c.removed;
    // The first nothrow allocation is the USBSTOR key object, the second the record array: by then
    // USBSTOR has been counted.
    alloc_hooks::RunBeforeNthNothrow(2, RemoveKeys);
    const long baseline = alloc_hooks::LiveBlocks();
    {
      ScannedStore scanned;
      EXPECT_FALSE(alloc_hooks::ActionPending());
      EXPECT_EQ(scanned.store.deviceCount, 3);
      EXPECT_EQ(DeviceRows(scanned.store), c.rows);
      report[0] = L'\0';
      scanned.store.ComposeReport(report.data());
      EXPECT_EQ(std::wcsstr(report.data(), L"驅動程式: \r\n"), nullptr) << "a record without a name reported";
    }
    EXPECT_EQ(alloc_hooks::LiveBlocks(), baseline);
    alloc_hooks::RunBeforeNthNothrow(0, nullptr);
  }
}

// Fails each nothrow allocation of a scan in turn. Whatever the scan had stored stays as it was; the
// record it was filling is absent; the store can be reported and released without a leak.
TEST(ScanDevicesTest, EveryFailedAllocationLeavesAConsistentStore) {
  ScratchRegistry registry(L"ScanDevices.Allocation");
  AddDevice(registry, L"Disk&Ven_A", L"A USB Device");
  registry.SetString(kUsbstor + L"\\Disk&Ven_B", L"DeviceDesc", L"Own description");
  registry.SetString(kUsbstor + L"\\Disk&Ven_C\\0001", L"FriendlyName", L"C USB Device");
  registry.RedirectMachineKey();

  std::vector<Row> complete;
  {
    ScannedStore scanned;
    complete = DeviceRows(scanned.store);
  }
  ASSERT_EQ(complete.size(), 3u);
  const long constructions = ForEachFailedAllocation([&](const DeviceHistory& store, const wchar_t* report) {
    ASSERT_TRUE(store.deviceCount == 0 || store.deviceCount == 3) << store.deviceCount;
    const std::vector<Row> rows = DeviceRows(store);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_TRUE(rows[i] == kAbsentRow || rows[i] == complete[i]) << "record " << i;
      if (rows[i] != kAbsentRow) {
        EXPECT_NE(std::wcsstr(report, store.devices[i].deviceKeyName), nullptr) << "record " << i;
      }
    }
  });
  // The array, the key objects, the scratches and the strings: more than one allocation per record.
  EXPECT_GT(constructions, 10);
}

}  // namespace
