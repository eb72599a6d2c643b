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

// The fastest of a few rounds: the figure least disturbed by the rest of the machine.
constexpr int kRounds = 3;

template <typename Operation>
double FastestMilliseconds(Operation operation) {
  double fastest = 0;
  for (int round = 0; round < kRounds; ++round) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    operation();
    QueryPerformanceCounter(&end);
    const double elapsed = Milliseconds(start, end);
    fastest = round == 0 || elapsed < fastest ? elapsed : fastest;
  }
  return fastest;
}

// Composition always correlates first; its own share is what it takes beyond correlation alone, which is
// within the rounds' spread for these stores.
void Measure(int devices, int entries) {
  std::unique_ptr<wchar_t[]> text(new wchar_t[kReportTextUnits]);
  DeviceHistory store{DeviceHistory::Unscanned{}};
  FillSynthetic(store, devices, entries);
  const double correlation = FastestMilliseconds([&store] { store.Correlate(); });
  const double composition = FastestMilliseconds([&store, &text] {
    text[0] = L'\0';
    store.ComposeReport(text.get());
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
