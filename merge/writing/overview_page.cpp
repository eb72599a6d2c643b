#include "merge/writing/overview_page.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "merge/report_files.h"
#include "report/report_format.h"
#include "text/ascii.h"
#include "text/calendar.h"
#include "text/time_text.h"

namespace {

constexpr wchar_t kPageTitle[] = L"USB 大量存取裝置使用概況";
constexpr wchar_t kListSeparator[] = L"、";

// The page's whole style. Fonts are named, never fetched; nothing here may refer to anything outside the
// page. Marks differ in shape as well as colour, so the timeline reads in black and white.
constexpr wchar_t kStyle[] =
    L"body{font-family:\"Microsoft JhengHei\",\"PingFang TC\",\"Noto Sans CJK TC\",\"WenQuanYi Zen Hei\","
    L"sans-serif;margin:24px;color:#1a1a1a}"
    L"h1{font-size:1.5em;margin-bottom:.3em}h2{font-size:1.2em;margin-top:1.8em;border-bottom:1px solid #bbb}"
    L"table{border-collapse:collapse;font-size:.9em}"
    L"th,td{border:1px solid #bbb;padding:3px 8px;text-align:left;vertical-align:top}"
    L"th{background:#eee}td.count{text-align:right}tr.recent td{background:#fff1bf;font-weight:bold}"
    L"ul{margin:0;padding-left:1.2em}nav a{margin-right:1em}"
    L"svg{max-width:100%;height:auto}svg text{font-size:11px;fill:#1a1a1a}"
    L".band{fill:#f2f4f8}.tick{stroke:#ccc}.first{fill:#fff;stroke:#1f4e9c;stroke-width:1.6}"
    L".last{fill:#b03a2e}.since{stroke:#b03a2e;stroke-width:1.5;stroke-dasharray:5 3}"
    L"@media print{body{margin:0}h2{break-after:avoid}tr{break-inside:avoid}}";

// The timeline's geometry, in SVG user units.
constexpr int kMaxLanes = 100;
constexpr double kLabelWidth = 130, kPlotWidth = 800, kRightMargin = 20;
constexpr double kAxisHeight = 24, kLaneHeight = 16, kFootHeight = 22;
constexpr double kMarkRadius = 4, kMarkSide = 7;
constexpr int kMaxYearTicks = 25;

// One computer of the page: all its reports, its newest report's users and time, its newest use.
struct Computer {
  TextId name = 0;
  std::vector<const MergedReport*> reports;
  std::vector<std::wstring_view> newestUsers;
  std::wstring_view time;
  std::wstring_view newest;
  int complete = 0;
  int incomplete = 0;
  bool recent = false;
};

// Table times "YYYY-MM-DD hh:mm:ss" in time order: the year may have more than four digits (a FILETIME
// reaches 30827), so a longer text is later.
bool Later(std::wstring_view a, std::wstring_view b) {
  return a.size() != b.size() ? a.size() > b.size() : a > b;
}

std::wstring Number(long long value) {
  return std::to_wstring(value);
}

std::wstring Decimal(double value) {
  wchar_t text[32] = {};
  std::swprintf(text, std::size(text), L"%.1f", value);
  return text;
}

// A time as the table gives it, or a day "YYYY-MM-DD": its year, and its place in days since 1970.
struct Moment {
  long long year = 0;
  double day = 0;
};
Moment MomentOf(std::wstring_view text) {
  int parts[6] = {};
  ReadTableTime(text, parts);
  Moment moment;
  moment.year = parts[0];
  const long long days = DaysFromCivil(parts[0], parts[1], parts[2]);
  const long long seconds = parts[3] * 3600LL + parts[4] * 60LL + parts[5];
  moment.day = static_cast<double>(days) + static_cast<double>(seconds) / 86400.0;
  return moment;
}

// The first moment of a day "YYYY-MM-DD" as table time, so that Later compares it with times; empty for none.
std::wstring StartOfDay(const std::wstring& day) {
  return day.empty() ? day : day + L" 00:00:00";
}

template <typename Visit>
void ForEachRecord(const MergedReports& merged, const Computer& computer, Visit&& visit) {
  for (const MergedReport* report : computer.reports) {
    for (const MergedRecord& record : merged.RecordsOf(*report)) {
      visit(record);
    }
  }
}

// One row per computer, in the reports' order (by computer); each with its newest report's users (every
// user whose report shares the newest minute, in file order), its counts and its newest use.
std::vector<Computer> ComputersOf(const MergedReports& merged, const std::wstring& since) {
  std::vector<Computer> computers;
  for (const MergedReport& report : merged.Reports()) {
    if (computers.empty() || computers.back().name != report.computer) {
      computers.emplace_back();
      computers.back().name = report.computer;
    }
    Computer& computer = computers.back();
    if (computer.reports.empty() || computer.reports.back()->stamp != report.stamp) {
      computer.newestUsers.clear();
    }
    const std::wstring_view user = merged.Text(report.user);
    if (std::find(computer.newestUsers.begin(), computer.newestUsers.end(), user) ==
        computer.newestUsers.end()) {
      computer.newestUsers.push_back(user);
    }
    computer.time = merged.Text(report.time);
    computer.reports.push_back(&report);
  }
  const std::wstring sinceTime = StartOfDay(since);
  for (Computer& computer : computers) {
    ForEachRecord(merged, computer, [&](const MergedRecord& record) {
      ++(record.kind == RecordKind::kBothViews ? computer.complete : computer.incomplete);
      for (const std::wstring_view use :
           {merged.Field(record, ReportField::kFirstUsed), merged.Field(record, ReportField::kLastUsed)}) {
        computer.newest = Later(use, computer.newest) ? use : computer.newest;
      }
    });
    computer.recent = !since.empty() && !computer.newest.empty() && !Later(sinceTime, computer.newest);
  }
  // Newest use first, then computers with records but no time, then those without records; ties by name.
  const auto rank = [](const Computer& c) {
    return !c.newest.empty() ? 0 : c.complete + c.incomplete ? 1 : 2;
  };
  std::sort(computers.begin(), computers.end(), [&](const Computer& a, const Computer& b) {
    if (rank(a) != rank(b)) {
      return rank(a) < rank(b);
    }
    if (a.newest != b.newest) {
      return Later(a.newest, b.newest);
    }
    return merged.Text(a.name) < merged.Text(b.name);
  });
  return computers;
}

// A device model: records grouped by vendor and product as the table splits them, ASCII letter case
// aside and revisions not told apart; by the whole key name where it cannot be split.
struct Model {
  std::wstring_view vendor, product;  // the spellings shown; the whole key name in `vendor` when unsplit
  bool split = false;
  std::set<std::wstring_view> names, types;
  std::vector<std::wstring_view> computers;
};

void SortUnique(std::vector<std::wstring_view>& texts) {
  std::sort(texts.begin(), texts.end());
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
}

// Most widespread first, ties by the model's name (letter case aside).
std::vector<std::pair<std::wstring, Model>> ModelsOf(const MergedReports& merged,
                                                     const std::vector<Computer>& computers) {
  std::map<std::wstring, Model> models;
  // The pool gives each distinct key name one id: its model is looked up by text once, then by that id.
  std::unordered_map<TextId, Model*> modelOfKey;
  std::wstring key;
  for (const Computer& computer : computers) {
    const std::wstring_view computerName = merged.Text(computer.name);
    ForEachRecord(merged, computer, [&](const MergedRecord& record) {
      const TextId nameId = record.field[static_cast<int>(ReportField::kDeviceKeyName)];
      if (nameId == 0) {
        return;
      }
      Model*& found = modelOfKey[nameId];
      if (!found) {
        const std::wstring_view name = merged.Text(nameId);
        const DeviceKeyParts parts = SplitDeviceKeyName(name);
        const bool split = !parts.vendor.empty() || !parts.product.empty();
        // A key name holds no line break, so a split name never meets a whole one.
        key.assign(split ? parts.vendor : name);
        if (split) {
          key.append(1, L'\n').append(parts.product);
        }
        for (wchar_t& unit : key) {
          unit = AsciiUpperCase(unit);
        }
        found = &models[key];
        // Of the spellings, the one with the most lower-case letters sorts last: the device key's own
        // ("Kingston") rather than the interface entry's ("KINGSTON").
        found->split = split;
        found->vendor = std::max(found->vendor, split ? parts.vendor : name);
        found->product = std::max(found->product, parts.product);
      }
      Model& model = *found;
      for (const auto& [set, field] : {std::pair{&model.names, ReportField::kFriendlyName},
                                       std::pair{&model.types, ReportField::kDescription}}) {
        const std::wstring_view value = merged.Field(record, field);
        if (!value.empty()) {
          set->insert(value);
        }
      }
      // A computer's records come one after another.
      if (model.computers.empty() || model.computers.back() != computerName) {
        model.computers.push_back(computerName);
      }
    });
  }
  std::vector<std::pair<std::wstring, Model>> ordered(models.begin(), models.end());
  for (auto& [name, model] : ordered) {
    SortUnique(model.computers);
  }
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    return a.second.computers.size() > b.second.computers.size();
  });
  return ordered;
}

void AppendElement(const wchar_t* tag, std::wstring_view text, std::wstring& html,
                   const wchar_t* attributes = L"") {
  html.append(L"<").append(tag).append(attributes).append(L">");
  AppendEscapedText(text, html);
  html.append(L"</").append(tag).append(L">");
}

void AppendCount(long long count, std::wstring& html) {
  html.append(L"<td class=\"count\">").append(Number(count)).append(L"</td>");
}

void AppendList(const std::set<std::wstring_view>& items, std::wstring& html) {
  html += L"<td>";
  if (!items.empty()) {
    html += L"<ul>";
    for (const std::wstring_view item : items) {
      AppendElement(L"li", item, html);
    }
    html += L"</ul>";
  }
  html += L"</td>";
}

// A cell of texts with kListSeparator between them.
void AppendJoined(const std::vector<std::wstring_view>& texts, std::wstring& html) {
  html += L"<td>";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    html += i == 0 ? L"" : kListSeparator;
    AppendEscapedText(texts[i], html);
  }
  html += L"</td>";
}

void AppendHeaderRow(std::initializer_list<std::wstring_view> titles, std::wstring& html) {
  html += L"<thead><tr>";
  for (const std::wstring_view title : titles) {
    AppendElement(L"th", title, html);
  }
  html += L"</tr></thead><tbody>";
}

void AppendCounts(const MergedReports& merged, const std::vector<Computer>& computers,
                  const std::wstring& since, std::wstring& html) {
  const std::vector<MergedReport>& reports = merged.Reports();
  long long records = 0;
  std::wstring_view earliest, latest;
  for (const MergedReport& report : reports) {
    const std::wstring_view time = merged.Text(report.time);
    records += static_cast<long long>(report.recordCount);
    earliest = earliest.empty() ? time : std::min(earliest, time);
    latest = std::max(latest, time);
  }
  html.append(L"<p id=\"counts\">電腦 ").append(Number(static_cast<long long>(computers.size())));
  html.append(L" 台，報告 ").append(Number(static_cast<long long>(reports.size())));
  html.append(L" 份，記錄 ").append(Number(records)).append(L" 筆；報告時間 ");
  AppendEscapedText(earliest, html);
  if (latest != earliest) {
    html += L" 至 ";
    AppendEscapedText(latest, html);
  }
  if (!since.empty()) {
    const auto recent =
        std::count_if(computers.begin(), computers.end(), [](const Computer& c) { return c.recent; });
    html += L"；稽核期間自 ";
    AppendEscapedText(since, html);
    html.append(L" 起，有使用記錄的電腦 ").append(Number(recent)).append(L" 台");
  }
  html += L"。</p>";
}

void AppendComputers(const MergedReports& merged, const std::vector<Computer>& computers,
                     const std::wstring& since, std::wstring& html) {
  html += L"<h2 id=\"computers\">電腦</h2><table id=\"pcs\">";
  if (since.empty()) {
    AppendHeaderRow({L"電腦", L"使用者", L"報告時間", L"完整記錄", L"不完整記錄", L"最近使用"}, html);
  } else {
    AppendHeaderRow({L"電腦", L"使用者", L"報告時間", L"完整記錄", L"不完整記錄", L"最近使用", L"稽核期間內"},
                    html);
  }
  for (const Computer& computer : computers) {
    html += computer.recent ? L"<tr class=\"recent\">" : L"<tr>";
    AppendElement(L"td", merged.Text(computer.name), html);
    AppendJoined(computer.newestUsers, html);
    AppendElement(L"td", computer.time, html);
    AppendCount(computer.complete, html);
    AppendCount(computer.incomplete, html);
    AppendElement(L"td", computer.newest, html);
    if (!since.empty()) {
      html += computer.recent ? L"<td>是</td>" : L"<td></td>";
    }
    html += L"</tr>";
  }
  html += L"</tbody></table>";
}

// Time across, widened to whole years; a lane per computer in the table's order, at most kMaxLanes.
void AppendTimeline(const MergedReports& merged, const std::vector<Computer>& computers,
                    const std::wstring& since, std::wstring& html) {
  html += L"<h2 id=\"timeline-title\">時間軸</h2>";
  std::wstring_view earliest, latest;
  const auto widen = [&](std::wstring_view time) {
    if (!time.empty()) {
      earliest = earliest.empty() || Later(earliest, time) ? time : earliest;
      latest = Later(time, latest) ? time : latest;
    }
  };
  for (const Computer& computer : computers) {
    ForEachRecord(merged, computer, [&](const MergedRecord& record) {
      widen(merged.Field(record, ReportField::kFirstUsed));
      widen(merged.Field(record, ReportField::kLastUsed));
    });
  }
  const std::wstring sinceTime = StartOfDay(since);
  widen(sinceTime);
  if (earliest.empty()) {
    html += L"<p>沒有任何記錄帶有使用時間，無法畫出時間軸。</p>";
    return;
  }
  const long long firstYear = MomentOf(earliest).year, lastYear = MomentOf(latest).year;
  const double start = static_cast<double>(DaysFromCivil(firstYear, 1, 1));
  const double end = static_cast<double>(DaysFromCivil(lastYear + 1, 1, 1));
  const auto x = [&](double day) { return kLabelWidth + (day - start) / (end - start) * kPlotWidth; };
  const int lanes = static_cast<int>(std::min<std::size_t>(computers.size(), kMaxLanes));
  const double plotBottom = kAxisHeight + lanes * kLaneHeight;
  const double width = kLabelWidth + kPlotWidth + kRightMargin, height = plotBottom + kFootHeight;

  html += L"<p class=\"legend\">○ 首次使用　■ 最後使用";
  html += since.empty() ? L"" : L"　┆ 稽核期間起日";
  html += L"（同一時間在多份報告中只畫一次；沒有時間的記錄不畫）</p>";
  html.append(
          L"<svg id=\"timeline\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" aria-label=\"時間軸\" "
          L"width=\"")
      .append(Decimal(width))
      .append(L"\" height=\"")
      .append(Decimal(height))
      .append(L"\" viewBox=\"0 0 ")
      .append(Decimal(width) + L" " + Decimal(height))
      .append(L"\">");
  for (int lane = 0; lane < lanes; lane += 2) {
    html.append(L"<rect class=\"band\" x=\"0\" y=\"").append(Decimal(kAxisHeight + lane * kLaneHeight));
    html.append(L"\" width=\"").append(Decimal(width)).append(L"\" height=\"").append(Decimal(kLaneHeight));
    html += L"\"/>";
  }
  static const int kYearSteps[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000};
  long long step = 1;
  for (const int candidate : kYearSteps) {
    step = candidate;
    if ((lastYear - firstYear + 1) / step <= kMaxYearTicks) {
      break;
    }
  }
  for (long long year = firstYear; year <= lastYear + 1; ++year) {
    if (year % step != 0 && year != firstYear) {
      continue;
    }
    const std::wstring at = Decimal(x(static_cast<double>(DaysFromCivil(year, 1, 1))));
    html.append(L"<line class=\"tick\" x1=\"").append(at).append(L"\" x2=\"").append(at);
    html.append(L"\" y1=\"").append(Decimal(kAxisHeight - 6)).append(L"\" y2=\"").append(Decimal(plotBottom));
    html += L"\"/>";
    if (year <= lastYear) {
      // The year's label stands just after its first day, inside the span it names.
      html.append(L"<text class=\"year\" x=\"")
          .append(Decimal(x(static_cast<double>(DaysFromCivil(year, 1, 1))) + 3));
      html.append(L"\" y=\"14\">").append(Number(year)).append(L"</text>");
    }
  }
  std::vector<std::wstring_view> firsts, lasts;
  for (int lane = 0; lane < lanes; ++lane) {
    const Computer& computer = computers[static_cast<std::size_t>(lane)];
    const double middle = kAxisHeight + (lane + 0.5) * kLaneHeight;
    html.append(L"<g class=\"lane\"><text x=\"").append(Decimal(kLabelWidth - 6)).append(L"\" y=\"");
    html.append(Decimal(middle + 4)).append(L"\" text-anchor=\"end\">");
    AppendEscapedText(merged.Text(computer.name), html);
    html += L"</text>";
    firsts.clear();
    lasts.clear();
    ForEachRecord(merged, computer, [&](const MergedRecord& record) {
      for (const auto& [list, use] : {std::pair{&firsts, merged.Field(record, ReportField::kFirstUsed)},
                                      std::pair{&lasts, merged.Field(record, ReportField::kLastUsed)}}) {
        if (!use.empty()) {
          list->push_back(use);
        }
      }
    });
    SortUnique(firsts);
    SortUnique(lasts);
    for (const std::wstring_view use : firsts) {
      html.append(L"<circle class=\"first\" cx=\"").append(Decimal(x(MomentOf(use).day)));
      html.append(L"\" cy=\"").append(Decimal(middle)).append(L"\" r=\"").append(Decimal(kMarkRadius));
      html += L"\"><title>首次使用 ";
      AppendEscapedText(use, html);
      html += L"</title></circle>";
    }
    for (const std::wstring_view use : lasts) {
      html.append(L"<rect class=\"last\" x=\"").append(Decimal(x(MomentOf(use).day) - kMarkSide / 2));
      html.append(L"\" y=\"").append(Decimal(middle - kMarkSide / 2)).append(L"\" width=\"");
      html.append(Decimal(kMarkSide)).append(L"\" height=\"").append(Decimal(kMarkSide));
      html += L"\"><title>最後使用 ";
      AppendEscapedText(use, html);
      html += L"</title></rect>";
    }
    html += L"</g>";
  }
  if (!since.empty()) {
    const std::wstring at = Decimal(x(MomentOf(since).day));
    html.append(L"<line class=\"since\" x1=\"").append(at).append(L"\" x2=\"").append(at);
    html.append(L"\" y1=\"").append(Decimal(kAxisHeight - 6)).append(L"\" y2=\"").append(Decimal(plotBottom));
    html.append(L"\"/><text x=\"").append(at).append(L"\" y=\"").append(Decimal(plotBottom + 15));
    html += L"\" text-anchor=\"middle\">稽核期間起日 ";
    AppendEscapedText(since, html);
    html += L"</text>";
  }
  html += L"</svg>";
  if (computers.size() > kMaxLanes) {
    html.append(L"<p id=\"more-lanes\">另有 ")
        .append(Number(static_cast<long long>(computers.size() - kMaxLanes)));
    html += L" 台電腦未畫入時間軸（見上方電腦表）。</p>";
  }
}

void AppendModels(const MergedReports& merged, const std::vector<Computer>& computers, std::wstring& html) {
  html += L"<h2 id=\"models-title\">裝置型號</h2><table id=\"models\">";
  AppendHeaderRow(
      {L"廠商", L"產品", ColumnTitle(kDeviceNameLabel), ColumnTitle(kDeviceTypeLabel), L"電腦數", L"電腦"},
      html);
  for (const auto& [key, model] : ModelsOf(merged, computers)) {
    html += L"<tr>";
    if (model.split) {
      AppendElement(L"td", model.vendor, html);
      AppendElement(L"td", model.product, html);
    } else {
      AppendElement(L"td", model.vendor, html, L" colspan=\"2\"");
    }
    AppendList(model.names, html);
    AppendList(model.types, html);
    AppendCount(static_cast<long long>(model.computers.size()), html);
    AppendJoined(model.computers, html);
    html += L"</tr>";
  }
  html += L"</tbody></table>";
}

void AppendNotMerged(const std::vector<NotMergedFile>& notMerged, std::wstring& html) {
  html += L"<h2 id=\"not-merged-title\">未合併的檔案</h2>";
  if (notMerged.empty()) {
    html += L"<p>每個檔案都已合併。</p>";
    return;
  }
  html += L"<table id=\"not-merged\">";
  AppendHeaderRow({L"檔案", L"原因"}, html);
  for (const NotMergedFile& file : notMerged) {
    html += L"<tr>";
    AppendElement(L"td", file.path, html);
    AppendElement(L"td", file.reason, html);
    html += L"</tr>";
  }
  html += L"</tbody></table>";
}

}  // namespace

std::wstring OverviewPagePath(const std::wstring& tablePath) {
  return WithExtension(tablePath, L".html");
}

void AppendEscapedText(std::wstring_view text, std::wstring& html) {
  static const std::pair<wchar_t, const wchar_t*> kReferences[] = {
      {L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}, {L'\'', L"&#39;"}};
  for (const wchar_t unit : text) {
    const auto* reference = std::find_if(std::begin(kReferences), std::end(kReferences),
                                         [unit](const auto& candidate) { return candidate.first == unit; });
    if (reference != std::end(kReferences)) {
      html += reference->second;
    } else if (unit == 0x7F || (unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r')) {
      // Line breaks and tabs stay (a name may run over several lines); other controls show as pictures.
      html += unit == 0x7F ? L'\x2421' : static_cast<wchar_t>(0x2400 + unit);
    } else if ((unit >= 0x80 && unit <= 0x9F) || (unit >= 0xFDD0 && unit <= 0xFDEF) || unit >= 0xFFFE) {
      html += L'\xFFFD';
    } else {
      html += unit;
    }
  }
}

std::wstring OverviewPage(const MergedReports& merged, const std::vector<NotMergedFile>& notMerged,
                          const std::wstring& since) {
  const std::vector<Computer> computers = ComputersOf(merged, since);
  std::wstring html;
  html.append(L"<!DOCTYPE html>\n<html lang=\"zh-Hant\"><head><meta charset=\"utf-8\">");
  html.append(L"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>")
      .append(kPageTitle)
      .append(L"</title><style>")
      .append(kStyle)
      .append(L"</style></head>\n<body><h1>")
      .append(kPageTitle)
      .append(L"</h1>");
  AppendCounts(merged, computers, since, html);
  html +=
      L"<nav><a href=\"#computers\">電腦</a><a href=\"#timeline-title\">時間軸</a>"
      L"<a href=\"#models-title\">裝置型號</a><a href=\"#not-merged-title\">未合併的檔案</a></nav>\n";
  AppendComputers(merged, computers, since, html);
  html += L"\n";
  AppendTimeline(merged, computers, since, html);
  html += L"\n";
  AppendModels(merged, computers, html);
  html += L"\n";
  AppendNotMerged(notMerged, html);
  html += L"\n</body></html>\n";
  return html;
}
