#include <cstddef>
#include <cstring>
#include <cwchar>

#include "history/device_history.h"
#include "report/report_format.h"

namespace {

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

// Appends one record laid out as `lines`, each label followed by the value of its field in `values`.
template <std::size_t N>
void AppendRecord(ReportWriter& report, const ReportLine (&lines)[N],
                  const wchar_t* const (&values)[kReportFieldCount]) {
  const wchar_t* pieces[3 * N];
  for (std::size_t i = 0; i < N; ++i) {
    pieces[3 * i] = lines[i].label;
    pieces[3 * i + 1] = values[static_cast<std::size_t>(lines[i].field)];
    pieces[3 * i + 2] = i + 1 < N ? kReportLineEnd : kReportBlockEnd;
  }
  report.Append(pieces);
}

bool HasDeviceFields(const DeviceRecord& device) {
  return device.deviceKeyName && device.friendlyName && device.description && device.firstUsed;
}

}  // namespace

void DeviceHistory::ComposeReport(wchar_t* text) {
  if (interfaces && devices && interfaceCount != 0 && deviceCount != 0) {
    Correlate();
  }
  ReportWriter report(text);
  report.Append({kReportHeader, kReportBlockEnd});

  // Devices seen in both views. A linked device whose own fields are incomplete (a scan cut short) is
  // passed over like the incomplete records below; a missing last use prints as empty text.
  if (interfaces && devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      const DeviceRecord& device = devices[d];
      if (!device.interface || !HasDeviceFields(device)) {
        continue;
      }
      const wchar_t* lastUsed = device.interface->lastUsed ? device.interface->lastUsed : L"";
      AppendRecord(
          report, kBothViewsLines,
          {device.deviceKeyName, device.friendlyName, device.description, device.firstUsed, lastUsed});
    }
  }

  report.Append({kReportIncompleteHeader, kReportBlockEnd});

  if (devices) {
    for (std::int32_t d = 0; d < deviceCount; ++d) {
      const DeviceRecord& device = devices[d];
      if (device.interface || !HasDeviceFields(device)) {
        continue;
      }
      AppendRecord(
          report, kNoInterfaceLines,
          {device.deviceKeyName, device.friendlyName, device.description, device.firstUsed, nullptr});
    }
  }

  if (interfaces) {
    for (std::int32_t i = 0; i < interfaceCount; ++i) {
      const InterfaceRecord& entry = interfaces[i];
      if (entry.matched || !entry.deviceKeyName || !entry.lastUsed) {
        continue;
      }
      AppendRecord(report, kNoDeviceKeyLines,
                   {entry.deviceKeyName, nullptr, nullptr, nullptr, entry.lastUsed});
    }
  }
}
