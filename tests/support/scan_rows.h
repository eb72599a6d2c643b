#pragma once

#include <gtest/gtest.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/alloc_hooks.h"

// Scanned records as comparable text, for the scan tests: a null field reads "(absent)", and a time text
// ("YYYY/MM/DD  hh:mm:ss") of keys the test made itself, unknown to the second, reads "<time>".
using Row = std::vector<std::wstring>;
inline const std::wstring kAbsent = L"(absent)";

inline std::wstring Field(const wchar_t* text) {
  return text ? std::wstring(text) : kAbsent;
}

inline std::wstring TimeField(const wchar_t* text) {
  const std::wstring shape = L"dddd/dd/dd  dd:dd:dd";
  const std::wstring field = Field(text);
  if (!text || field.size() != shape.size()) {
    return field;
  }
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == L'd' ? !std::iswdigit(field[i]) : field[i] != shape[i]) {
      return field;
    }
  }
  return L"<time>";
}

// A store made by the scans of this process's HKLM, released when the test is done with it.
struct ScannedStore {
  DeviceHistory store;
  ~ScannedStore() { store.Release(); }
};

// Constructs a store once for each nothrow allocation the scans make, with that allocation failing, until
// a construction goes through without a failure. Each store is composed into a report and handed to
// `check`, then released; no block may stay allocated. Returns the number of constructions.
template <typename Check>
long ForEachFailedAllocation(Check check) {
  std::vector<wchar_t> report(kReportTextUnits);
  for (long n = 1;; ++n) {
    SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
    const long baseline = alloc_hooks::LiveBlocks();
    alloc_hooks::FailNthNothrow(n);
    DeviceHistory store;
    const bool failed = alloc_hooks::FailureHappened();
    alloc_hooks::FailNthNothrow(0);
    report[0] = L'\0';
    store.ComposeReport(report.data());
    EXPECT_LT(std::wcslen(report.data()), static_cast<std::size_t>(kReportTextUnits));
    check(store, report.data());
    store.Release();
    EXPECT_EQ(alloc_hooks::LiveBlocks(), baseline);
    if (!failed) {
      return n;
    }
  }
}
