// The report's composition at the edges of its capacity and on values that could break its lines, and the
// report file written in a code page that needs more than two bytes a unit.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "report/compose_report.h"
#include "report/report_file.h"

namespace {

const std::wstring kHeader = L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n",
                   kIncompleteHeader = L"以下為不完整記錄:\r\n\r\n";

wchar_t* NewString(const std::wstring& text) {
  return std::wcscpy(new wchar_t[text.size() + 1], text.c_str());
}

// Composes into `buffer` the report of a store that holds one entry without device key, named `name` and last
// used at `time`.
void ComposeOneEntry(wchar_t* buffer, const std::wstring& name, const std::wstring& time) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  store.interfaces = new InterfaceRecord[1];
  store.interfaces[0].deviceKeyName = NewString(name);
  store.interfaces[0].lastUsed = NewString(time);
  store.interfaceCount = 1;
  ComposeReport(store, buffer);
  store.Release();
}

// The text holds at most kReportTextUnits - 1 units. Composition appends a header or a whole record at a
// time after what the buffer holds, and stops before the first that does not fit; the guard stays intact.
TEST(Compose, StopsBeforeTheFirstPieceThatDoesNotFit) {
  const std::wstring entry = L"裝置名稱: Z\r\n最後使用: 2\r\n\r\n",
                     whole = kHeader + kIncompleteHeader + entry;
  const struct {
    int spareUnits;  // room beyond what the whole report needs; negative: short by that much
    std::wstring appended;
  } cases[] = {{0, whole},
               {-1, kHeader + kIncompleteHeader},
               {-static_cast<int>(whole.size() - kHeader.size()) - 1, L""}};
  std::vector<wchar_t> buffer(kReportTextUnits + 64);
  for (const auto& c : cases) {
    const std::size_t prefill = kReportTextUnits - 1 - whole.size() - c.spareUnits;
    std::fill(buffer.begin(), buffer.end(), L'\xFEFE');
    std::fill(buffer.begin(), buffer.begin() + prefill, L'x');
    buffer[prefill] = L'\0';
    ComposeOneEntry(buffer.data(), L"Z", L"2");
    EXPECT_EQ(std::wstring(buffer.data()), std::wstring(prefill, L'x') + c.appended) << c.spareUnits;
    EXPECT_EQ(std::count(buffer.end() - 64, buffer.end(), L'\xFEFE'), 64) << c.spareUnits;
  }
}

// A value never ends, splits or blanks a line of the report: each unit that could is written as '?', unit for
// unit; every other unit, tab and the C1 controls besides NEL included, as it stands, which the cases' code
// page would not show. Each value is both fields of an entry without device key: a name and a time alike.
TEST(Compose, ValuesStayOnTheirLine) {
  const struct {
    std::wstring value, written;
  } cases[] = {
      {L"A\rB\nC\x01\x1F", L"A?B?C??"},
      {L"\x7F\x85\x2028\x2029", L"????"},
      {L"\t \x7E\x80\x84\x86\x9F\xA0", L"\t \x7E\x80\x84\x86\x9F\xA0"},
      {L"\x2027\x202A\x3000\xFEFF\xD83D\xDE00?", L"\x2027\x202A\x3000\xFEFF\xD83D\xDE00?"},
  };
  std::vector<wchar_t> buffer(kReportTextUnits);
  for (const auto& c : cases) {
    buffer[0] = L'\0';
    ComposeOneEntry(buffer.data(), c.value, c.value);
    EXPECT_EQ(std::wstring(buffer.data()), kHeader + kIncompleteHeader + L"裝置名稱: " + c.written +
                                               L"\r\n最後使用: " + c.written + L"\r\n\r\n")
        << c.written;
  }
}

// In UTF-8 a report needs more than two bytes per UTF-16 unit: the output buffer follows the converter.
TEST(ReportFile, WritesAReportThatNeedsMoreThanTwoBytesPerUnitWhole) {
  ReportFile file;
  ASSERT_TRUE(file.Create());
  EXPECT_TRUE(file.Write(std::wstring(100000, L'\x4E2D').c_str(), CP_UTF8));
  file.Close();
  EXPECT_EQ(std::filesystem::file_size(file.Path()), 300000u);
  DeleteFileW(file.Path());
}

}  // namespace
