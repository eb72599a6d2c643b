#include "report/compose_report.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "history/device_history.h"
#include "registry/reg_key.h"
#include "report/report_format.h"

static_assert(RegKey::kMaxTextUnits <= kMaxReportValueUnits,
              "the merger takes every value that a report holds");

namespace {

// Appends to the report text within its fixed capacity, keeping it terminated. The end is found once;
// every append then costs only its own length. A block (a header or a whole record) is measured first
// and appended only when all of it fits; after the first block that does not fit nothing more is
// appended, so the report never holds a half record and never a record after a gap.
class ReportWriter {
 public:
  static constexpr std::size_t kMaxTextUnits = kReportTextUnits - 1;
  static constexpr std::size_t kMaxPieces = 15;

  // One piece of a block: one of the report's own texts, written as it is, or a value, written on one
  // line (WriteOnOneLine). A value is text up to its terminator, so it never holds a NUL.
  struct Piece {
    const wchar_t* text;
    bool isValue;
  };

  // `text` holds kReportTextUnits units; one without a terminator in them takes nothing more.
  explicit ReportWriter(wchar_t* text) : text_(text), length_(wcsnlen(text, kReportTextUnits)) {
    full_ = length_ > kMaxTextUnits;
  }

  void Append(const Piece* pieces, std::size_t count) {
    if (full_) {
      return;
    }
    std::size_t lengths[kMaxPieces];
    std::size_t needed = 0;
    for (std::size_t p = 0; p < count; ++p) {
      lengths[p] = std::wcslen(pieces[p].text);
      needed += lengths[p];
    }
    if (needed > kMaxTextUnits - length_) {
      full_ = true;
      return;
    }
    for (std::size_t p = 0; p < count; ++p) {
      if (pieces[p].isValue) {
        WriteOnOneLine(text_ + length_, pieces[p].text, lengths[p]);
      } else {
        std::memcpy(text_ + length_, pieces[p].text, lengths[p] * sizeof(wchar_t));
      }
      length_ += lengths[p];
    }
    text_[length_] = L'\0';
  }

  template <std::size_t N>
  void Append(const Piece (&pieces)[N]) {
    static_assert(N <= kMaxPieces, "a block has at most kMaxPieces pieces");
    Append(pieces, N);
  }

  // A header and the empty line after it.
  void AppendHeader(const wchar_t* header) { Append({{header, false}, {kReportBlockEnd, false}}); }

 private:
  wchar_t* text_;
  std::size_t length_;
  bool full_;

  // Writes the `length` units of `value` at `destination`, each unit that could break a line
  // (BreaksReportLine) as kReportValueStandIn: unit for unit, so a value takes exactly the room its
  // length measured. The one place where a value enters the report.
  static void WriteOnOneLine(wchar_t* destination, const wchar_t* value, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      destination[i] = BreaksReportLine(value[i]) ? kReportValueStandIn : value[i];
    }
  }
};

// Appends one record laid out as `lines`, each label followed by the value of its field in `values`.
template <std::size_t N>
void AppendRecord(ReportWriter& report, const ReportLine (&lines)[N],
                  const wchar_t* const (&values)[kReportFieldCount]) {
  ReportWriter::Piece pieces[3 * N];
  for (std::size_t i = 0; i < N; ++i) {
    pieces[3 * i] = {lines[i].label, false};
    pieces[3 * i + 1] = {values[static_cast<std::size_t>(lines[i].field)], true};
    pieces[3 * i + 2] = {i + 1 < N ? kReportLineEnd : kReportBlockEnd, false};
  }
  report.Append(pieces);
}

bool HasDeviceFields(const DeviceRecord& device) {
  return device.deviceKeyName && device.friendlyName && device.description && device.firstUsed;
}

// Since Windows Vista a device's "FriendlyName" or "DeviceDesc" may hold an indirect string,
// "@<file>,%<name>%;<text>", which Windows resolves from the driver's INF file and shows as <text> when it
// cannot: the whole value is '@', a non-empty file name without ',' or ';', ',', '%', a non-empty name
// without '%', '%', ';' and then any text. The report shows that <text>; any other value, one that merely
// begins with '@' included, as it is. Returns a pointer into `value`.
const wchar_t* DisplayText(const wchar_t* value) {
  if (value[0] != L'@') {
    return value;
  }
  const wchar_t* file = value + 1;
  const std::size_t fileUnits = std::wcscspn(file, L",;");
  if (fileUnits == 0 || file[fileUnits] != L',' || file[fileUnits + 1] != L'%') {
    return value;
  }
  const wchar_t* name = file + fileUnits + 2;
  const std::size_t nameUnits = std::wcscspn(name, L"%");
  if (nameUnits == 0 || name[nameUnits] != L'%' || name[nameUnits + 1] != L';') {
    return value;
  }
  return name + nameUnits + 2;
}

// A device record as the report prints it, with the first and last use that correlation set: devices seen
// in both views carry their last use (a missing one prints as empty text).
void AppendDevice(ReportWriter& report, const DeviceRecord& device) {
  const wchar_t* const lastUse =
      device.interface ? (device.reportedLastUse ? device.reportedLastUse : L"") : nullptr;
  const wchar_t* const values[kReportFieldCount] = {
      device.deviceKeyName, DisplayText(device.friendlyName), DisplayText(device.description),
      device.reportedFirstUse ? device.reportedFirstUse : device.firstUsed, lastUse};
  if (lastUse) {
    AppendRecord(report, kBothViewsLines, values);
  } else {
    AppendRecord(report, kNoInterfaceLines, values);
  }
}

// The device arrays in the order the report lists them: USBSTOR's devices, then the UAS drives.
struct DeviceArray {
  const DeviceRecord* records;
  std::int32_t count;
};

}  // namespace

void ComposeReport(DeviceHistory& history, wchar_t* text) {
  history.Correlate();
  const DeviceArray deviceArrays[] = {{history.devices, history.deviceCount},
                                      {history.uasDevices, history.uasDeviceCount}};
  ReportWriter report(text);
  report.AppendHeader(kReportHeader);

  // Devices seen in both views. The scans count only whole records, but a store filled otherwise may hold
  // a device without some of its fields: it is passed over here and below, never read through a null.
  for (const DeviceArray& array : deviceArrays) {
    for (std::int32_t d = 0; array.records && d < array.count; ++d) {
      const DeviceRecord& device = array.records[d];
      if (device.interface && HasDeviceFields(device)) {
        AppendDevice(report, device);
      }
    }
  }

  report.AppendHeader(kReportIncompleteHeader);

  for (const DeviceArray& array : deviceArrays) {
    for (std::int32_t d = 0; array.records && d < array.count; ++d) {
      const DeviceRecord& device = array.records[d];
      if (!device.interface && HasDeviceFields(device)) {
        AppendDevice(report, device);
      }
    }
  }

  // Entries whose device key is gone. A SCSI entry that no UAS drive claims is an internal disk, or a
  // removed drive that cannot be told from one: never listed.
  if (history.interfaces) {
    for (std::int32_t i = 0; i < history.interfaceCount; ++i) {
      const InterfaceRecord& entry = history.interfaces[i];
      if (entry.matched || entry.bus != DeviceBus::kUsbstor || !entry.deviceKeyName || !entry.lastUsed) {
        continue;
      }
      AppendRecord(report, kNoDeviceKeyLines,
                   {entry.deviceKeyName, nullptr, nullptr, nullptr, entry.lastUsed});
    }
  }
}
