#include "merge/writing/merged_table.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <memory>
#include <tuple>
#include <utility>

#include "registry/ascii.h"
#include "report/report_format.h"

namespace {

// Upper-cased: device key names are matched without regard to ASCII letter case.
constexpr wchar_t kVendorMarker[] = L"&VEN_";
constexpr wchar_t kProductMarker[] = L"&PROD_";
constexpr wchar_t kRevisionMarker[] = L"&REV_";

constexpr wchar_t kNoRecordKindName[] = L"無任何記錄";

// The units of a block of the pool: large enough that blocks are few, small enough to waste little.
constexpr std::size_t kBlockUnits = 256 * 1024;

// FNV-1a over the UTF-16 units.
std::uint32_t HashOf(std::wstring_view text) {
  std::uint32_t hash = 2166136261u;
  for (const wchar_t unit : text) {
    hash = (hash ^ static_cast<std::uint32_t>(unit)) * 16777619u;
  }
  return hash;
}

// Whether `stored` holds the units of `text`, compared here rather than through the C runtime's wmemcmp:
// a lookup compares a few dozen units, for every field of every record.
bool SameUnits(const wchar_t* stored, std::size_t length, std::wstring_view text) {
  if (length != text.size()) {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (stored[i] != text[i]) {
      return false;
    }
  }
  return true;
}

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

TextIndex::TextIndex() : slots_(1024, kNoText) {
  entries_.push_back({nullptr, 0, 0});
}

std::size_t TextIndex::SlotOf(std::wstring_view text, std::uint32_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash & mask;
  for (; slots_[slot] != kNoText; slot = (slot + 1) & mask) {
    const Entry& entry = entries_[slots_[slot]];
    if (entry.hash == hash && SameUnits(entry.data, entry.length, text)) {
      break;
    }
  }
  return slot;
}

TextId TextIndex::Find(std::wstring_view text) const {
  return slots_[SlotOf(text, HashOf(text))];
}

TextId TextIndex::Add(std::wstring_view text) {
  const std::uint32_t hash = HashOf(text);
  const TextId id = static_cast<TextId>(entries_.size());
  entries_.push_back({text.data(), static_cast<std::uint32_t>(text.size()), hash});
  slots_[SlotOf(text, hash)] = id;
  if (entries_.size() * 2 > slots_.size()) {
    Rehash(slots_.size() * 2);
  }
  return id;
}

void TextIndex::Rehash(std::size_t slotCount) {
  slots_.assign(slotCount, kNoText);
  const std::size_t mask = slotCount - 1;
  for (TextId id = 1; id < entries_.size(); ++id) {
    std::size_t slot = entries_[id].hash & mask;
    while (slots_[slot] != kNoText) {
      slot = (slot + 1) & mask;
    }
    slots_[slot] = id;
  }
}

TextId TextPool::Intern(std::wstring_view text) {
  if (text.empty()) {
    return 0;
  }
  const TextId id = index_.Find(text);
  return id != kNoText ? id : index_.Add({Store(text), text.size()});
}

const wchar_t* TextPool::Store(std::wstring_view text) {
  // A text too long to share a block gets a block of its own; the current block goes on being filled.
  if (text.size() > kBlockUnits / 4) {
    // Owned before the list grows, so that the list failing to grow frees it.
    std::unique_ptr<wchar_t[]> block(new wchar_t[text.size()]);
    blocks_.push_back(std::move(block));
    std::copy(text.begin(), text.end(), blocks_.back().get());
    return blocks_.back().get();
  }
  if (text.size() > room_) {
    std::unique_ptr<wchar_t[]> block(new wchar_t[kBlockUnits]);
    blocks_.push_back(std::move(block));
    next_ = blocks_.back().get();
    room_ = kBlockUnits;
  }
  const wchar_t* stored = next_;
  next_ = std::copy(text.begin(), text.end(), next_);
  room_ -= text.size();
  return stored;
}

void MergedReports::Add(std::wstring_view file, const ReportName& name, const ReportContent& content) {
  MergedReport report;
  report.file = texts_.Intern(file);
  report.computer = texts_.Intern(name.computer);
  report.user = texts_.Intern(name.user);
  report.time = texts_.Intern(name.time);
  report.stamp = texts_.Intern(name.stamp);
  report.firstRecord = static_cast<std::uint32_t>(records_.size());
  report.recordCount = static_cast<std::uint32_t>(content.records.size());
  for (const ReportRecord& record : content.records) {
    MergedRecord merged;
    merged.kind = record.kind;
    for (std::size_t field = 0; field < kReportFieldCount; ++field) {
      merged.field[field] = texts_.Intern(content.Field(record, static_cast<ReportField>(field)));
    }
    records_.push_back(merged);
  }
  reports_.push_back(report);
}

void MergedReports::Order(bool latestOnly) {
  std::sort(reports_.begin(), reports_.end(), [this](const MergedReport& a, const MergedReport& b) {
    return std::make_tuple(Text(a.computer), Text(a.stamp), Text(a.file)) <
           std::make_tuple(Text(b.computer), Text(b.stamp), Text(b.file));
  });
  if (!latestOnly) {
    return;
  }
  // Sorted, a computer's newest reports stand last among its own; equal texts are one text of the pool.
  std::vector<MergedReport> latest;
  for (std::size_t i = reports_.size(); i-- > 0;) {
    const bool newest = latest.empty() || latest.back().computer != reports_[i].computer ||
                        latest.back().stamp == reports_[i].stamp;
    if (newest) {
      latest.push_back(reports_[i]);
    }
  }
  std::reverse(latest.begin(), latest.end());
  reports_.swap(latest);
}

const TableRow& TableHeader() {
  static const std::wstring titles[] = {Title(kDriverLabel), Title(kDeviceNameLabel), Title(kDeviceTypeLabel),
                                        Title(kFirstUsedLabel), Title(kLastUsedLabel)};
  static const TableRow header = {L"電腦", L"使用者", L"報告時間", L"記錄種類", titles[0], L"廠商", L"產品",
                                  L"版本", titles[1], titles[2],   titles[3],   titles[4], L"檔案"};
  return header;
}

void ForEachTableRow(const MergedReports& merged, const std::function<void(const TableRow&)>& visit) {
  for (const MergedReport& report : merged.Reports()) {
    const std::wstring_view computer = merged.Text(report.computer), user = merged.Text(report.user),
                            time = merged.Text(report.time), file = merged.Text(report.file);
    if (report.recordCount == 0) {
      // A report without records still shows that its computer was looked at.
      visit({computer, user, time, kNoRecordKindName, L"", L"", L"", L"", L"", L"", L"", L"", file});
      continue;
    }
    for (const MergedRecord& record : merged.RecordsOf(report)) {
      const std::wstring_view key = merged.Field(record, ReportField::kDeviceKeyName);
      const DeviceKeyParts parts = SplitDeviceKeyName(key);
      visit({computer, user, time, KindName(record.kind), key, parts.vendor, parts.product, parts.revision,
             merged.Field(record, ReportField::kFriendlyName),
             merged.Field(record, ReportField::kDescription), merged.Field(record, ReportField::kFirstUsed),
             merged.Field(record, ReportField::kLastUsed), file});
    }
  }
}

void AppendCsvRow(const TableRow& row, std::wstring& csv) {
  for (std::size_t i = 0; i < row.size(); ++i) {
    AppendCell(row[i], i + 1 == row.size(), csv);
  }
}
