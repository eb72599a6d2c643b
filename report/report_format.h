#pragma once

#include <cstddef>
#include <cstdint>

// The report's text as its composer writes it and the report merger reads it back: one definition of the
// headers, the labels, the record layouts and the file name, so the two can never drift apart. Every
// line break is CR LF; a header or a record ends its last line and leaves one empty line after it.

constexpr wchar_t kReportHeader[] = L"本機曾使用過 USB 大量存取裝置記錄:";
constexpr wchar_t kReportIncompleteHeader[] = L"以下為不完整記錄:";
constexpr wchar_t kReportLineEnd[] = L"\r\n";
constexpr wchar_t kReportBlockEnd[] = L"\r\n\r\n";

constexpr wchar_t kDriverLabel[] = L"驅動程式: ";
constexpr wchar_t kDeviceNameLabel[] = L"裝置名稱: ";
constexpr wchar_t kDeviceTypeLabel[] = L"裝置種類: ";
constexpr wchar_t kFirstUsedLabel[] = L"首次使用: ";
constexpr wchar_t kLastUsedLabel[] = L"最後使用: ";

// A value never ends, splits or blanks a line: each unit of it that could (CR, LF and every other C0
// control but tab, DEL, NEL, the line and the paragraph separator) is written as kReportValueStandIn, the
// character the report already shows for what its code page lacks. A device's strings are chosen by whoever
// made the device or can write the registry; written as they stand, a name holding line breaks and labels
// would end its record and forge others. Every other unit of a value is written as it stands.
constexpr wchar_t kReportValueStandIn = L'?';
constexpr bool BreaksReportLine(wchar_t unit) {
  return (unit < L'\x20' && unit != L'\t') || unit == L'\x7F' || unit == L'\x85' || unit == L'\x2028' ||
         unit == L'\x2029';
}

// What a record line carries. The two time fields hold time text (text/time_text.h) or nothing.
enum class ReportField { kDeviceKeyName, kFriendlyName, kDescription, kFirstUsed, kLastUsed };
constexpr std::size_t kReportFieldCount = 5;

struct ReportLine {
  const wchar_t* label;
  ReportField field;
};

// The three kinds of record, in the order of the report's three sections: devices seen in both views
// (before the second header), devices with no interface entry, then interface entries with no device
// key. A record is its lines, each label followed by its value, in this order.
constexpr ReportLine kBothViewsLines[] = {{kDriverLabel, ReportField::kDeviceKeyName},
                                          {kDeviceNameLabel, ReportField::kFriendlyName},
                                          {kDeviceTypeLabel, ReportField::kDescription},
                                          {kFirstUsedLabel, ReportField::kFirstUsed},
                                          {kLastUsedLabel, ReportField::kLastUsed}};
constexpr ReportLine kNoInterfaceLines[] = {{kDriverLabel, ReportField::kDeviceKeyName},
                                            {kDeviceNameLabel, ReportField::kFriendlyName},
                                            {kDeviceTypeLabel, ReportField::kDescription},
                                            {kFirstUsedLabel, ReportField::kFirstUsed}};
constexpr ReportLine kNoDeviceKeyLines[] = {{kDeviceNameLabel, ReportField::kDeviceKeyName},
                                            {kLastUsedLabel, ReportField::kLastUsed}};

// The report's capacity, which the composer's buffer has and the merger reads at most: 1,048,576 UTF-16
// units, so at most 1,048,575 units of text and the terminator.
constexpr std::int32_t kReportTextUnits = 1048576;

// The longest value (a device key name, a name or a description) that the report merger takes: more than
// the program ever writes, since every value is a registry text of at most RegKey::kMaxTextUnits units (the
// composer checks so). A report with a longer value is not one that the program wrote; the merger names
// this number when it refuses one.
constexpr std::size_t kMaxReportValueUnits = 1023;

// The report file's name: "YYYYMMDDhhmm-<user>-<COMPUTER>.txt", local time to the minute.
constexpr wchar_t kReportNameStampFormat[] = L"%04d%02d%02d%02d%02d";
constexpr std::size_t kReportNameStampUnits = 12;
constexpr wchar_t kReportNameSeparator[] = L"-";
constexpr wchar_t kReportNameExtension[] = L".txt";
