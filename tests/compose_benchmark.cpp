// Prints how long correlation and report composition take on large synthetic stores. Not a test: the
// figures depend on the machine. Run it under Wine: wine build/win64/tests/compose_benchmark.exe
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/store_builder.h"

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// `devices` device records and `entries` interface records, every other entry naming a device.
void FillSynthetic(DeviceHistory& store, int devices, int entries) {
  std::vector<std::wstring> names;
  for (int d = 0; d < devices; ++d) {
    wchar_t name[64];
    std::swprintf(name, 64, L"Disk&Ven_Vendor%05d&Prod_Flash_Drive&Rev_1.00", d);
    names.push_back(name);
  }
  std::vector<DeviceFields> deviceFields;
  for (const std::wstring& name : names) {
    deviceFields.push_back(
        {name.c_str(), L"Vendor Flash Drive USB Device", L"Disk drive", L"2024/05/06  07:08:09"});
  }
  std::vector<std::wstring> entryNames;
  for (int e = 0; e < entries; ++e) {
    entryNames.push_back(e % 2 == 0 ? names[(e / 2) % devices]
                                    : L"Disk&Ven_Other&Prod_" + std::to_wstring(e));
  }
  std::vector<InterfaceFields> entryFields;
  for (const std::wstring& name : entryNames) {
    entryFields.push_back({name.c_str(), L"2025/01/02  03:04:05"});
  }
  FillDevices(store, deviceFields);
  FillInterfaces(store, entryFields);
}

void Measure(int devices, int entries) {
  std::unique_ptr<wchar_t[]> text(new wchar_t[kReportTextUnits]);
  text[0] = L'\0';

  DeviceHistory correlated{DeviceHistory::Unscanned{}};
  FillSynthetic(correlated, devices, entries);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  correlated.Correlate();
  QueryPerformanceCounter(&end);
  double correlation = Milliseconds(start, end);
  correlated.Release();

  DeviceHistory composed{DeviceHistory::Unscanned{}};
  FillSynthetic(composed, devices, entries);
  QueryPerformanceCounter(&start);
  composed.ComposeReport(text.get());
  QueryPerformanceCounter(&end);
  double composition = Milliseconds(start, end);
  composed.Release();

  std::printf(
      "%6d devices x %6d entries: correlation %9.1f ms, composition with its correlation %9.1f ms, "
      "composition alone ~%7.1f ms, report %zu units\n",
      devices, entries, correlation, composition, composition - correlation, std::wcslen(text.get()));
}

}  // namespace

int main() {
  Measure(1000, 2000);
  Measure(10000, 20000);
  return 0;
}
