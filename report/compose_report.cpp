#include <cstddef>
#include <cstring>
#include <cwchar>

#include "history/device_history.h"

namespace {

constexpr wchar_t kHeader[] = L"本機曾使用過 USB 大量存取裝置記錄:\r\n\r\n";
constexpr wchar_t kIncompleteHeader[] = L"以下為不完整記錄:\r\n\r\n";
constexpr wchar_t kDriverLabel[] = L"驅動程式: ";
constexpr wchar_t kDeviceNameLabel[] = L"裝置名稱: ";
constexpr wchar_t kDeviceTypeLabel[] = L"裝置種類: ";
constexpr wchar_t kFirstUsedLabel[] = L"首次使用: ";
constexpr wchar_t kLastUsedLabel[] = L"最後使用: ";
constexpr wchar_t kLineEnd[] = L"\r\n";
constexpr wchar_t kRecordEnd[] = L"\r\n\r\n";

// Appends to the report text within its fixed capacity, keeping it terminated. The end is found once;
// every append then costs only its own length. A block (a header or a whole record) is measured first
// and appended only when all of it fits; after the first block that does not fit nothing more is
// appended, so the report never holds a half record and never a record after a gap.
class ReportWriter {
 public:
  static constexpr std::size_t kMaxTextUnits = kReportTextUnits - 1;
  static constexpr std::size_t kMaxPieces = 15;

  // `text` holds kReportTextUnits units; one without a terminator in them takes nothing more.
  explicit ReportWriter(wchar_t* text) : text_(text), length_(wcsnlen(text, kReportTextUnits)) {
    full_ = length_ > kMaxTextUnits;
  }

  void Append(const wchar_t* const* pieces, std::size_t count) {
    if (full_) {
      return;
    }
    std::size_t lengths[kMaxPieces];
    std::size_t needed = 0;
    for (std::size_t p = 0; p < count; ++p) {
      lengths[p] = std::wcslen(pieces[p]);
      needed += lengths[p];
    }
    if (needed > kMaxTextUnits - length_) {
      full_ = true;
      return;
    }
    for (std::size_t p = 0; p < count; ++p) {
      std::memcpy(text_ + length_, pieces[p], lengths[p] * sizeof(wchar_t));
      length_ += lengths[p];
    }
    text_[length_] = L'\0';
  }

  template <std::size_t N>
  void Append(const wchar_t* const (&pieces)[N]) {
    static_assert(N <= kMaxPieces, "a block has at most kMaxPieces pieces");
    Append(pieces, N);
  }

 private:
  wchar_t* text_;
  std::size_t length_;
  bool full_;
};

bool HasDeviceFields(const DeviceRecord& device) {
  return device.deviceKeyName && device.friendlyName && device.description && device.firstUsed;
}

}  // namespace

void DeviceHistory::ComposeReport(wchar_t* text) {
  if (interfaces && devices && interfaceCount != 0 && deviceCount != 0) {
    Correlate();
  }
  ReportWriter report(text);
  report.Append({kHeader});

  // Devices seen in both views. A linked device whose own fields are incomplete (a scan cut short) is
  // passed over like the incomplete records below; a missing last use prints as empty text.
  if (interfaces && devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      const DeviceRecord& device = devices[d];
      if (!device.interface || !HasDeviceFields(device)) {
        continue;
      }
      const wchar_t* lastUsed = device.interface->lastUsed ? device.interface->lastUsed : L"";
      report.Append({kDriverLabel, device.deviceKeyName, kLineEnd, kDeviceNameLabel, device.friendlyName,
                     kLineEnd, kDeviceTypeLabel, device.description, kLineEnd, kFirstUsedLabel,
                     device.firstUsed, kLineEnd, kLastUsedLabel, lastUsed, kRecordEnd});
    }
  }

  report.Append({kIncompleteHeader});

  if (devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      const DeviceRecord& device = devices[d];
      if (device.interface || !HasDeviceFields(device)) {
        continue;
      }
      report.Append({kDriverLabel, device.deviceKeyName, kLineEnd, kDeviceNameLabel, device.friendlyName,
                     kLineEnd, kDeviceTypeLabel, device.description, kLineEnd, kFirstUsedLabel,
                     device.firstUsed, kRecordEnd});
    }
  }

  if (interfaces) {
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      const InterfaceRecord& entry = interfaces[i];
      if (entry.matched || !entry.deviceKeyName || !entry.lastUsed) {
        continue;
      }
      report.Append(
          {kDeviceNameLabel, entry.deviceKeyName, kLineEnd, kLastUsedLabel, entry.lastUsed, kRecordEnd});
    }
  }
}
