#include "merge/merged_table.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <tuple>

#include "registry/ascii.h"
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

void AppendCell(std::wstring_view value, bool last, std::wstring& csv) {
  const wchar_t first = value.empty() ? L'\0' : value[0];
  const bool formula =
      first == L'=' || first == L'+' || first == L'-' || first == L'@' || first == L'\t' || first == L'\r';
  bool quoted = formula, quotes = false;
  for (const wchar_t unit : value) {
    quotes = quotes || unit == L'"';
    quoted = quoted || unit == L'"' || unit == L',' || unit == L'\r' || unit == L'\n';
  }
  if (quoted) {
    csv += L'"';
  }
  if (formula) {
    csv += L'\'';
  }
  if (!quotes) {
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

void AppendRow(const TableRow& cells, std::wstring& csv) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    AppendCell(cells[i], i + 1 == cells.size(), csv);
  }
}

// Whether the upper-case `marker` stands in `text` at `at`, ASCII letter case aside.
bool MarkerAt(std::wstring_view text, std::size_t at, const wchar_t* marker) {
  for (std::size_t i = 0; marker[i] != L'\0'; ++i) {
    if (at + i >= text.size() || AsciiUpperCase(text[at + i]) != marker[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

DeviceKeyParts SplitDeviceKeyName(std::wstring_view name) {
  // Interface entries name the device in upper case ("DISK&VEN_LEXAR&PROD_..."), device keys in mixed case.
  // One pass: every marker begins with '&', so only those places are compared.
  static const wchar_t* const kMarkers[] = {kVendorMarker, kProductMarker, kRevisionMarker};
  std::size_t at[3] = {};
  int seen[3] = {};
  for (std::size_t i = name.find(L'&'); i != std::wstring_view::npos; i = name.find(L'&', i + 1)) {
    for (int m = 0; m < 3; ++m) {
      if (MarkerAt(name, i, kMarkers[m])) {
        at[m] = i;
        ++seen[m];
      }
    }
  }
  // A UAS disk's key (under Enum\SCSI) names no revision: "Disk&Ven_X&Prod_Y". Its product then runs to the
  // end and its revision is empty.
  const bool hasRevision = seen[2] != 0;
  const std::size_t productEnd = hasRevision ? at[2] : name.size();
  if (seen[0] != 1 || seen[1] != 1 || seen[2] > 1 || at[0] > at[1] || (hasRevision && at[1] > at[2])) {
    return {};
  }
  const std::size_t vendorBegin = at[0] + std::wcslen(kVendorMarker);
  const std::size_t productBegin = at[1] + std::wcslen(kProductMarker);
  if (vendorBegin > at[1] || productBegin > productEnd) {
    return {};
  }
  return {name.substr(vendorBegin, at[1] - vendorBegin), name.substr(productBegin, productEnd - productBegin),
          hasRevision ? name.substr(at[2] + std::wcslen(kRevisionMarker)) : std::wstring_view()};
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

const TableRow& TableHeader() {
  static const std::wstring titles[] = {Title(kDriverLabel), Title(kDeviceNameLabel), Title(kDeviceTypeLabel),
                                        Title(kFirstUsedLabel), Title(kLastUsedLabel)};
  static const TableRow header = {L"電腦", L"使用者", L"報告時間", L"記錄種類", titles[0], L"廠商", L"產品",
                                  L"版本", titles[1], titles[2],   titles[3],   titles[4], L"檔案"};
  return header;
}

void VisitTableRows(const MergedReport& report, const std::function<void(const TableRow&)>& visit) {
  const ReportContent& content = report.content;
  if (content.records.empty()) {
    // A report without records still shows that its computer was looked at.
    visit({report.name.computer, report.name.user, report.name.time, kNoRecordKindName, L"", L"", L"", L"",
           L"", L"", L"", L"", report.file});
    return;
  }
  for (const ReportRecord& record : content.records) {
    const std::wstring_view key = content.Field(record, ReportField::kDeviceKeyName);
    const DeviceKeyParts parts = SplitDeviceKeyName(key);
    visit({report.name.computer, report.name.user, report.name.time, KindName(record.kind), key, parts.vendor,
           parts.product, parts.revision, content.Field(record, ReportField::kFriendlyName),
           content.Field(record, ReportField::kDescription), content.Field(record, ReportField::kFirstUsed),
           content.Field(record, ReportField::kLastUsed), report.file});
  }
}

void AppendCsvHeader(std::wstring& csv) {
  AppendRow(TableHeader(), csv);
}

void AppendCsvRows(const MergedReport& report, std::wstring& csv) {
  VisitTableRows(report, [&csv](const TableRow& cells) { AppendRow(cells, csv); });
}
