#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "support/store_builder.h"

namespace {

const std::wstring kHeader = L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n";
const std::wstring kIncompleteHeader = L"以下為不完整記錄:\r\n\r\n";

// A device's block; with a last use it is a linked record of the first section.
std::wstring DeviceBlock(const std::wstring& key, const std::wstring& name, const std::wstring& desc,
                         const std::wstring& first, const wchar_t* last = nullptr) {
  return L"驅動程式: " + key + L"\r\n裝置名稱: " + name + L"\r\n裝置種類: " + desc + L"\r\n首次使用: " +
         first + L"\r\n" + (last ? L"最後使用: " + std::wstring(last) + L"\r\n" : L"") + L"\r\n";
}

std::wstring EntryBlock(const std::wstring& key, const std::wstring& last) {
  return L"裝置名稱: " + key + L"\r\n最後使用: " + last + L"\r\n\r\n";
}

// The report buffer at its real size, followed by guard units that composition must never touch.
class ReportBuffer {
 public:
  static constexpr std::size_t kGuardUnits = 64;
  static constexpr wchar_t kGuard = 0xFEFE;

  ReportBuffer() : units_(new wchar_t[kReportTextUnits + kGuardUnits]) {
    std::fill(units_.get(), units_.get() + kReportTextUnits / 2, L'\0');
    std::fill(units_.get() + kReportTextUnits / 2, units_.get() + kReportTextUnits + kGuardUnits, kGuard);
  }
  wchar_t* Text() { return units_.get(); }
  std::wstring String() const { return units_.get(); }
  bool GuardIntact() const {
    return std::all_of(units_.get() + kReportTextUnits, units_.get() + kReportTextUnits + kGuardUnits,
                       [](wchar_t unit) { return unit == kGuard; });
  }
  // Fills the start of the text with `length` units of 'x', as text a caller put there before.
  void Prefill(std::size_t length) {
    std::fill(units_.get(), units_.get() + length, L'x');
    units_[length] = L'\0';
  }

 private:
  std::unique_ptr<wchar_t[]> units_;
};

std::wstring Compose(DeviceHistory& store) {
  ReportBuffer buffer;
  store.ComposeReport(buffer.Text());
  EXPECT_TRUE(buffer.GuardIntact());
  return buffer.String();
}

const wchar_t kFirst[] = L"2019/03/05  14:07:09";
const wchar_t kLast[] = L"2021/12/31  23:59:59";

TEST(Compose, ProducesExactText) {
  struct Case {
    const char* what;
    std::vector<DeviceFields> devices;
    int deviceCount;
    std::vector<InterfaceFields> interfaces;
    std::wstring expected;
  };
  const Case cases[] = {
      {"empty store: both headers", {}, 0, {}, kHeader + kIncompleteHeader},
      {"devices without entries land in section two",
       {{L"Disk&Ven_A", L"A USB", L"Disk drive", kFirst}, {L"Disk&Ven_B", L"", L"", kFirst}},
       2,
       {},
       kHeader + kIncompleteHeader + DeviceBlock(L"Disk&Ven_A", L"A USB", L"Disk drive", kFirst) +
           DeviceBlock(L"Disk&Ven_B", L"", L"", kFirst)},
      {"entries without devices land in section three",
       {},
       -1,
       {{L"Disk&Ven_A", kLast}, {L"CdRom&Ven_B", L""}},
       kHeader + kIncompleteHeader + EntryBlock(L"Disk&Ven_A", kLast) + EntryBlock(L"CdRom&Ven_B", L"")},
      {"all three sections in array order",
       {{L"B", L"b", L"db", kFirst}, {L"A", L"a", L"da", kFirst}, {L"C", L"c", L"dc", kFirst}},
       3,
       {{L"Z", kLast}, {L"A", kLast}, {L"B", L"2022/01/01  00:00:00"}},
       kHeader + DeviceBlock(L"B", L"b", L"db", kFirst, L"2022/01/01  00:00:00") +
           DeviceBlock(L"A", L"a", L"da", kFirst, kLast) + kIncompleteHeader +
           DeviceBlock(L"C", L"c", L"dc", kFirst) + EntryBlock(L"Z", kLast)},
      {"several entries of one device: the last is linked",
       {{L"A", L"a", L"da", kFirst}},
       1,
       {{L"A", L"2030/01/01  00:00:00"}, {L"A", kLast}},
       kHeader + DeviceBlock(L"A", L"a", L"da", kFirst, kLast) + kIncompleteHeader},
      {"letter case keeps records apart",
       {{L"Disk&Ven_A", L"a", L"da", kFirst}},
       1,
       {{L"DISK&VEN_A", kLast}},
       kHeader + kIncompleteHeader + DeviceBlock(L"Disk&Ven_A", L"a", L"da", kFirst) +
           EntryBlock(L"DISK&VEN_A", kLast)},
      {"incomplete records are passed over",
       {{L"A", L"a", nullptr, kFirst},
        {L"B", nullptr, L"d", kFirst},
        {nullptr, nullptr, nullptr, nullptr},
        {L"C", L"c", L"dc", nullptr},
        {L"D", L"d", L"dd", kFirst}},
       5,
       {{L"E", nullptr}, {nullptr, kLast}, {nullptr, nullptr}, {L"F", kLast}},
       kHeader + kIncompleteHeader + DeviceBlock(L"D", L"d", L"dd", kFirst) + EntryBlock(L"F", kLast)},
      {"linked records are never read through null",
       {{L"A", nullptr, L"d", kFirst}, {L"B", L"b", L"db", kFirst}},
       2,
       {{L"A", kLast}, {L"B", nullptr}},
       kHeader + DeviceBlock(L"B", L"b", L"db", kFirst, L"") + kIncompleteHeader},
      {"fields are verbatim",
       {{L"%s%n&#", L"\t%ls\x7f", L"é𝄞", kFirst}},
       1,
       {{L"%d#", kLast}},
       kHeader + kIncompleteHeader + DeviceBlock(L"%s%n&#", L"\t%ls\x7f", L"é𝄞", kFirst) +
           EntryBlock(L"%d#", kLast)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceHistory store{DeviceHistory::Unscanned{}};
    FillDevices(store, c.devices, c.deviceCount);
    FillInterfaces(store, c.interfaces);
    EXPECT_EQ(Compose(store), c.expected);
    store.Release();
  }
}

TEST(Compose, CountsBelowTheArraysBoundWhatIsListed) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  FillDevices(store, {{L"A", L"a", L"da", kFirst}, {L"B", L"b", L"db", kFirst}}, 1);
  FillInterfaces(store, {{L"C", kLast}, {L"D", kLast}}, 2);
  store.interfaceCount = 1;
  EXPECT_EQ(Compose(store),
            kHeader + kIncompleteHeader + DeviceBlock(L"A", L"a", L"da", kFirst) + EntryBlock(L"C", kLast));
  store.deviceCount = 2;
  store.interfaceCount = 2;
  store.Release();
}

TEST(Compose, PositiveCountsWithoutArraysListNothing) {
  DeviceHistory store{DeviceHistory::Unscanned{}};
  store.deviceCount = 3;
  store.interfaceCount = 7;
  EXPECT_EQ(Compose(store), kHeader + kIncompleteHeader);
  EXPECT_EQ((kHeader + kIncompleteHeader).size(), 37u);
}

// The text holds at most kReportTextUnits - 1 units. Composition stops before the first header or record
// that does not fit whole, and appends nothing after it.
TEST(Compose, StopsAtTheLimit) {
  const std::wstring device = DeviceBlock(L"A", L"a", L"da", kFirst);
  const std::wstring entry = EntryBlock(L"Z", kLast);
  const std::wstring whole = kHeader + kIncompleteHeader + device + entry;
  struct Case {
    const char* what;
    int spareUnits;  // units left after the prefill beyond what the whole report needs; negative: short
    std::wstring expectedTail;
  };
  const Case cases[] = {
      {"fits with room to spare", 1, whole},
      {"fits exactly", 0, whole},
      {"last record short by one", -1, kHeader + kIncompleteHeader + device},
      {"a record that does not fit ends the report", -static_cast<int>(entry.size()) - 1,
       kHeader + kIncompleteHeader},
      {"not even the header fits",
       -static_cast<int>(kIncompleteHeader.size() + device.size() + entry.size()) - 1, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t prefill = kReportTextUnits - 1 - whole.size() - c.spareUnits;
    ReportBuffer buffer;
    buffer.Prefill(prefill);
    DeviceHistory store{DeviceHistory::Unscanned{}};
    FillDevices(store, {{L"A", L"a", L"da", kFirst}});
    FillInterfaces(store, {{L"Z", kLast}});
    store.ComposeReport(buffer.Text());
    store.Release();

    EXPECT_TRUE(buffer.GuardIntact());
    const std::wstring text = buffer.String();
    ASSERT_LE(text.size(), static_cast<std::size_t>(kReportTextUnits - 1));
    ASSERT_GE(text.size(), prefill);
    EXPECT_EQ(text.substr(0, prefill), std::wstring(prefill, L'x'));
    EXPECT_EQ(text.substr(prefill), c.expectedTail);
  }
}

TEST(Compose, FullOrUnterminatedBufferTakesNothing) {
  ReportBuffer buffer;
  buffer.Prefill(kReportTextUnits - 1);
  DeviceHistory store{DeviceHistory::Unscanned{}};
  store.ComposeReport(buffer.Text());
  EXPECT_EQ(buffer.String().size(), static_cast<std::size_t>(kReportTextUnits - 1));

  std::fill(buffer.Text(), buffer.Text() + kReportTextUnits, L'x');
  store.ComposeReport(buffer.Text());
  EXPECT_TRUE(buffer.GuardIntact());
  EXPECT_EQ(buffer.Text()[kReportTextUnits - 1], L'x');
}

}  // namespace
