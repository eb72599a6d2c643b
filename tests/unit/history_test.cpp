// The scans when the registry changes under them: keys that go or come after a scan counted them.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "history/device_history.h"
#include "tests/unit/failing_allocations.h"

namespace {

using failing_allocations::ArmNothrow;

const std::wstring kUsbstor = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\";
const std::wstring kDisk =
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}\\";
const std::vector<std::wstring>* pending_changes = nullptr;

// Creates each key of `paths` under HKEY_LOCAL_MACHINE, or deletes it when its path begins with "-".
void ChangeKeys(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) {
    HKEY key = nullptr;
    if (path[0] == L'-') {
      EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str() + 1), ERROR_SUCCESS);
    } else if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                               nullptr) == ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  }
}

// The names of the records; a record without a name counts as "(absent)".
template <typename Record>
std::vector<std::wstring> Names(const Record* records, int count) {
  std::vector<std::wstring> names;
  for (int i = 0; records && i < count; ++i) {
    names.push_back(records[i].deviceKeyName ? records[i].deviceKeyName : L"(absent)");
  }
  return names;
}

// Scans `keys` in a new scratch key standing for HKEY_LOCAL_MACHINE, with `changes` made before the scan's
// allocation `changeAt` (0: none): the device and entry names found, the store checked to free all it held.
std::pair<std::vector<std::wstring>, std::vector<std::wstring>> Scan(const std::vector<std::wstring>& keys,
                                                                     const std::vector<std::wstring>& changes,
                                                                     long changeAt, long* allocations) {
  static int scans = 0;
  HKEY scratch = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\VestigiaTests\\" + std::to_wstring(++scans)).c_str(), 0,
                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch, nullptr);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch);
  ChangeKeys(keys);
  pending_changes = &changes;
  const long baseline = failing_allocations::live_blocks;
  ArmNothrow(0, changeAt, [] { ChangeKeys(*pending_changes); });
  DeviceHistory store;
  *allocations = failing_allocations::nothrow_calls;
  ArmNothrow(0);
  RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  RegCloseKey(scratch);
  const long held = failing_allocations::live_blocks - baseline;
  const auto found =
      std::make_pair(Names(store.devices, store.deviceCount), Names(store.interfaces, store.interfaceCount));
  const long beforeRelease = failing_allocations::live_blocks;
  store.Release();
  EXPECT_EQ(beforeRelease - failing_allocations::live_blocks, held)
      << "change at " << changeAt << ": memory left";
  return found;
}

// Whichever allocation of the scan the change comes before, the scan makes up no record for a key that no
// longer exists and fills no more records than it counted, every one below the count in use: each name
// found is one that may be found, and is found once. (A key that stood throughout may be missed: Windows
// lists keys by index, and a key deleted before it moves it to an index already read.)
TEST(Scan, KeysChangedDuringTheScan) {
  const std::wstring entry = kDisk + L"##?#USBSTOR#";
  const struct {
    std::vector<std::wstring> keys, changes;
    std::set<std::wstring> devices, entries;  // the names that may be found
  } cases[] = {
      {{kUsbstor + L"A", kUsbstor + L"B\\1", kUsbstor + L"C\\1"},
       {L"-" + kUsbstor + L"A"},
       {L"A", L"B", L"C"},
       {}},
      {{entry + L"A#1\\#", kDisk + L"x1", kDisk + L"x2"},
       {entry + L"B#1\\#", entry + L"C#1\\#"},
       {},
       {L"A", L"B", L"C"}},
  };
  for (const auto& c : cases) {
    long allocations = 0, ignored = 0;
    Scan(c.keys, {}, 0, &allocations);
    for (long changeAt = 1; changeAt <= allocations; ++changeAt) {
      const auto [devices, entries] = Scan(c.keys, c.changes, changeAt, &ignored);
      for (const auto& [found, allowed] : {std::tie(devices, c.devices), std::tie(entries, c.entries)}) {
        for (const std::wstring& name : found) {
          EXPECT_TRUE(allowed.count(name) && std::count(found.begin(), found.end(), name) == 1)
              << "change at " << changeAt << ": " << testing::PrintToString(found);
        }
      }
    }
  }
}

}  // namespace
