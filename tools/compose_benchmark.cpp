// Prints how long correlation and report composition take on large synthetic stores. Not a test: the
// figures depend on the machine. Run it under Wine, in a copy of the pristine prefix (see README.md).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "history/device_history.h"
#include "report/compose_report.h"
#include "tools/fastest_milliseconds.h"

namespace {

wchar_t* Owned(const std::wstring& text) {
  wchar_t* copy = new wchar_t[text.size() + 1];
  std::wmemcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// `devices` device records and `entries` interface records, every other entry naming a device.
void FillSynthetic(DeviceHistory& store, int devices, int entries) {
  store.devices = new DeviceRecord[devices];
  store.deviceCount = devices;
  for (int d = 0; d < devices; ++d) {
    wchar_t name[64];
    std::swprintf(name, 64, L"Disk&Ven_Vendor%05d&Prod_Flash_Drive&Rev_1.00", d);
    store.devices[d] = {nullptr, Owned(L"Disk drive"), Owned(name), Owned(L"Vendor Flash Drive USB Device"),
                        Owned(L"2024/05/06  07:08:09")};
  }
  store.interfaces = new InterfaceRecord[entries];
  store.interfaceCount = entries;
  for (int e = 0; e < entries; ++e) {
    const std::wstring name = e % 2 == 0 ? store.devices[(e / 2) % devices].deviceKeyName
                                         : L"Disk&Ven_Other&Prod_" + std::to_wstring(e);
    store.interfaces[e] = {0, Owned(name), Owned(L"2025/01/02  03:04:05")};
  }
}

// Composition always correlates first; its own share is what it takes beyond correlation alone.
void Measure(int devices, int entries) {
  std::unique_ptr<wchar_t[]> text(new wchar_t[kReportTextUnits]);
  DeviceHistory store{DeviceHistory::Unscanned{}};
  FillSynthetic(store, devices, entries);
  const double correlation = FastestMilliseconds([&store] { store.Correlate(); });
  const double composition = FastestMilliseconds([&store, &text] {
    text[0] = L'\0';
    ComposeReport(store, text.get());
  });
  store.Release();
  std::printf(
      "%6d devices x %6d entries: correlation %8.1f ms, composition with its correlation %8.1f ms, "
      "report %zu units\n",
      devices, entries, correlation, composition, std::wcslen(text.get()));
}

}  // namespace

int main() {
  Measure(1000, 2000);
  Measure(10000, 20000);
  return 0;
}
