#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/alloc_hooks.h"
#include "support/store_builder.h"

namespace {

const wchar_t kTime[] = L"2020/01/01  00:00:00";

DeviceFields Device(const wchar_t* keyName) {
  return {keyName, L"name", L"desc", kTime};
}
InterfaceFields Entry(const wchar_t* keyName) {
  return {keyName, kTime};
}

TEST(Correlation, LinksDevicesAndMarksEntries) {
  struct Case {
    const char* what;
    std::vector<DeviceFields> devices;
    std::vector<InterfaceFields> interfaces;
    std::vector<int> expectedLinks;    // per device: index of the linked interface record, or -1
    std::vector<int> expectedMatched;  // per interface record: 0 or 1
  };
  const Case cases[] = {
      {"one to one", {Device(L"A"), Device(L"B")}, {Entry(L"B"), Entry(L"A")}, {1, 0}, {1, 1}},
      {"the last entry in array order is linked",
       {Device(L"A")},
       {Entry(L"A"), Entry(L"X"), Entry(L"A")},
       {2},
       {1, 0, 1}},
      {"letter case never matches", {Device(L"Disk&Ven_A")}, {Entry(L"disk&ven_a")}, {-1}, {0}},
      {"a prefix is not equality", {Device(L"Disk"), Device(L"Disk&Ven")}, {Entry(L"Disk&")}, {-1, -1}, {0}},
      {"empty names match each other", {Device(L"")}, {Entry(L"")}, {0}, {1}},
      {"absent names never match",
       {{nullptr, nullptr, nullptr, nullptr}, Device(L"A")},
       {{nullptr, nullptr}, Entry(L"A")},
       {-1, 1},
       {0, 1}},
      {"two devices share one entry", {Device(L"A"), Device(L"A")}, {Entry(L"A")}, {0, 0}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceHistory store{DeviceHistory::Unscanned{}};
    FillDevices(store, c.devices);
    FillInterfaces(store, c.interfaces);
    // A second run must change nothing.
    for (int pass = 0; pass < 2; ++pass) {
      store.Correlate();
      for (std::size_t d = 0; d < c.devices.size(); ++d) {
        const InterfaceRecord* expected =
            c.expectedLinks[d] < 0 ? nullptr : &store.interfaces[c.expectedLinks[d]];
        EXPECT_EQ(store.devices[d].interface, expected) << "device " << d << ", pass " << pass;
      }
      for (std::size_t i = 0; i < c.interfaces.size(); ++i) {
        EXPECT_EQ(store.interfaces[i].matched, c.expectedMatched[i]) << "entry " << i << ", pass " << pass;
      }
    }
    store.Release();
  }
}

TEST(Correlation, RecordsBeyondTheCountsAreNeverRead) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  FillDevices(store, {Device(L"A"), Device(L"B")}, 1);
  FillInterfaces(store, {Entry(L"B"), Entry(L"A")}, 4);
  store.interfaceCount = 1;
  store.Correlate();
  EXPECT_EQ(store.devices[0].interface, nullptr);
  EXPECT_EQ(store.devices[1].interface, nullptr);
  EXPECT_EQ(store.interfaces[0].matched, 0);
  EXPECT_EQ(store.interfaces[1].matched, 0);
  store.deviceCount = 2;
  store.interfaceCount = 2;
  store.Release();
}

TEST(Correlation, NegativeCountsAndMissingArraysAreHarmless) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  store.deviceCount = -1;
  FillInterfaces(store, {Entry(L"A")});
  store.Correlate();
  EXPECT_EQ(store.interfaces[0].matched, 0);

  store.interfaceCount = 5;  // a scan cut short can leave a positive count beside a null array
  delete[] store.interfaces[0].deviceKeyName;
  delete[] store.interfaces[0].lastUsed;
  delete[] store.interfaces;
  store.interfaces = nullptr;
  FillDevices(store, {Device(L"A")});
  store.Correlate();
  EXPECT_EQ(store.devices[0].interface, nullptr);
  store.Release();
}

// Release must free every string of every record in use and both arrays, whatever state a scan left
// them in, and free nothing twice when called again.
TEST(Release, FreesEveryBlockOnce) {
  struct Case {
    const char* what;
    std::vector<DeviceFields> devices;
    int deviceCount;
    std::vector<InterfaceFields> interfaces;
    int interfaceSlots;
  };
  const Case cases[] = {
      {"complete", {Device(L"A"), Device(L"B")}, 2, {Entry(L"A"), Entry(L"C")}, 2},
      {"partly filled records",
       {{L"A", nullptr, nullptr, nullptr},
        {L"B", L"n", nullptr, kTime},
        {nullptr, nullptr, nullptr, nullptr}},
       3,
       {{L"A", nullptr}, {nullptr, nullptr}},
       2},
      {"interface array longer than its count", {Device(L"A")}, 1, {Entry(L"A")}, 6},
      {"devices only", {Device(L"A")}, 1, {}, 0},
      {"interfaces only", {}, -1, {Entry(L"A")}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const long before = alloc_hooks::LiveBlocks();
    DeviceHistory store{DeviceHistory::Unscanned{}};
    FillDevices(store, c.devices, c.deviceCount);
    FillInterfaces(store, c.interfaces, c.interfaceSlots);
    EXPECT_GT(alloc_hooks::LiveBlocks(), before);
    store.Correlate();
    store.Release();
    EXPECT_EQ(alloc_hooks::LiveBlocks(), before);
    store.Release();
    EXPECT_EQ(alloc_hooks::LiveBlocks(), before);
  }
}

}  // namespace
