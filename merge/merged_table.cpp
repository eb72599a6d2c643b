#include "merge/merged_table.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <tuple>

#include "report/report_format.h"

namespace {

// Upper-cased: device key names are matched without regard to ASCII letter case.
constexpr wchar_t kVendorMarker[] = L"&VEN_";
constexpr wchar_t kProductMarker[] = L"&PROD_";
constexpr wchar_t kRevisionMarker[] = L"&REV_";

constexpr wchar_t kNoRecordKindName[] = L"無任何記錄";

const wchar_t* KindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::kBothViews:
      return L"完整記錄";
    case RecordKind::kNoInterface:
      return L"無介面項目";
    case RecordKind::kNoDeviceKey:
      return L"無裝置機碼";
  }
  return L"";
}

// A report label ("驅動程式: ") as a column title ("驅動程式").
std::wstring Title(const wchar_t* label) {
  std::wstring title(label);
  while (!title.empty() && (title.back() == L' ' || title.back() == L':')) {
    title.pop_back();
  }
  return title;
}

void AppendCell(const std::wstring& value, bool last, std::wstring& csv) {
  const bool formula = !value.empty() && std::wcschr(L"=+-@\t\r", value[0]);
  const bool quoted = formula || value.find_first_of(L",\"\r\n") != std::wstring::npos;
  if (quoted) {
    csv += L'"';
  }
  if (formula) {
    csv += L'\'';
  }
  if (value.find(L'"') == std::wstring::npos) {
    csv += value;
  } else {
    for (const wchar_t unit : value) {
      csv += unit;
      if (unit == L'"') {
        csv += L'"';
      }
    }
  }
  if (quoted) {
    csv += L'"';
  }
  csv += last ? L"\r\n" : L",";
}

void AppendRow(const std::wstring* const* cells, std::size_t count, std::wstring& csv) {
  for (std::size_t i = 0; i < count; ++i) {
    AppendCell(*cells[i], i + 1 == count, csv);
  }
}

// Where `marker` stands in `text` (both upper-cased) exactly once from `from` on; npos otherwise.
std::size_t FindOnce(const std::wstring& text, const wchar_t* marker, std::size_t from) {
  const std::size_t at = text.find(marker, from);
  return at != std::wstring::npos && text.find(marker, at + 1) == std::wstring::npos ? at
                                                                                     : std::wstring::npos;
}

std::wstring UpperCased(std::wstring text) {
  for (wchar_t& unit : text) {
    unit = unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
  }
  return text;
}

}  // namespace

DeviceKeyParts SplitDeviceKeyName(const std::wstring& name) {
  // Interface entries name the device in upper case ("DISK&VEN_LEXAR&PROD_..."), device keys in mixed case.
  const std::wstring upper = UpperCased(name);
  const std::size_t vendor = FindOnce(upper, kVendorMarker, 0);
  const std::size_t product = vendor == std::wstring::npos ? vendor : FindOnce(upper, kProductMarker, vendor);
  const std::size_t revision =
      product == std::wstring::npos ? product : FindOnce(upper, kRevisionMarker, product);
  if (revision == std::wstring::npos || upper.find(kVendorMarker) != vendor ||
      upper.find(kProductMarker) != product) {
    return {};
  }
  const std::size_t vendorBegin = vendor + std::wcslen(kVendorMarker);
  const std::size_t productBegin = product + std::wcslen(kProductMarker);
  return {name.substr(vendorBegin, product - vendorBegin), name.substr(productBegin, revision - productBegin),
          name.substr(revision + std::wcslen(kRevisionMarker))};
}

void OrderReports(std::vector<MergedReport>& reports, bool latestOnly) {
  std::sort(reports.begin(), reports.end(), [](const MergedReport& a, const MergedReport& b) {
    return std::tie(a.name.computer, a.name.stamp, a.file) < std::tie(b.name.computer, b.name.stamp, b.file);
  });
  if (!latestOnly) {
    return;
  }
  // Sorted, a computer's newest reports stand last among its own.
  std::vector<MergedReport> latest;
  for (std::size_t i = reports.size(); i-- > 0;) {
    const bool newest = latest.empty() || latest.back().name.computer != reports[i].name.computer ||
                        latest.back().name.stamp == reports[i].name.stamp;
    if (newest) {
      latest.push_back(std::move(reports[i]));
    }
  }
  std::reverse(latest.begin(), latest.end());
  reports.swap(latest);
}

void AppendCsvHeader(std::wstring& csv) {
  const std::wstring titles[] = {L"電腦",
                                 L"使用者",
                                 L"報告時間",
                                 L"記錄種類",
                                 Title(kDriverLabel),
                                 L"廠商",
                                 L"產品",
                                 L"版本",
                                 Title(kDeviceNameLabel),
                                 Title(kDeviceTypeLabel),
                                 Title(kFirstUsedLabel),
                                 Title(kLastUsedLabel),
                                 L"檔案"};
  const std::wstring* cells[std::size(titles)];
  for (std::size_t i = 0; i < std::size(titles); ++i) {
    cells[i] = &titles[i];
  }
  AppendRow(cells, std::size(cells), csv);
}

void AppendCsvRows(const MergedReport& report, std::wstring& csv) {
  // A report without records still shows that its computer was looked at.
  static const std::vector<ReportRecord> kNoRecord(1);
  const bool empty = report.records.empty();
  for (const ReportRecord& record : empty ? kNoRecord : report.records) {
    const std::wstring kind = empty ? kNoRecordKindName : KindName(record.kind);
    const std::wstring& key = record[ReportField::kDeviceKeyName];
    const DeviceKeyParts parts = SplitDeviceKeyName(key);
    const std::wstring* const cells[] = {&report.name.computer,
                                         &report.name.user,
                                         &report.name.time,
                                         &kind,
                                         &key,
                                         &parts.vendor,
                                         &parts.product,
                                         &parts.revision,
                                         &record[ReportField::kFriendlyName],
                                         &record[ReportField::kDescription],
                                         &record[ReportField::kFirstUsed],
                                         &record[ReportField::kLastUsed],
                                         &report.file};
    AppendRow(cells, std::size(cells), csv);
  }
}
