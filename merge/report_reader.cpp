#include "merge/report_reader.h"

#include <cstddef>
#include <cwchar>
#include <iterator>

#include "registry/time_text.h"

namespace {

// The reader is a machine whose states lie between lines: before the header, between the records of a
// section, or inside a record after the line that began one of its fields. Each line moves it along
// one or more transitions; a reading is a path that takes every line and ends in section 2 or 3.
enum State : int {
  kStart,
  kAfterHeader,
  kSection1,
  kAfterIncompleteHeader,
  kSection2,
  kSection3,
  kFirstFieldState,
};

struct Layout {
  const ReportLine* lines;
  int count;
  RecordKind kind;
  State sectionAfter;
  int firstState;
};
constexpr int kBothViewsCount = static_cast<int>(std::size(kBothViewsLines));
constexpr int kNoInterfaceCount = static_cast<int>(std::size(kNoInterfaceLines));
constexpr int kNoDeviceKeyCount = static_cast<int>(std::size(kNoDeviceKeyLines));
constexpr Layout kLayouts[] = {
    {kBothViewsLines, kBothViewsCount, RecordKind::kBothViews, kSection1, kFirstFieldState},
    {kNoInterfaceLines, kNoInterfaceCount, RecordKind::kNoInterface, kSection2,
     kFirstFieldState + kBothViewsCount},
    {kNoDeviceKeyLines, kNoDeviceKeyCount, RecordKind::kNoDeviceKey, kSection3,
     kFirstFieldState + kBothViewsCount + kNoInterfaceCount},
};
constexpr int kStateCount = kFirstFieldState + kBothViewsCount + kNoInterfaceCount + kNoDeviceKeyCount;
constexpr int kBothViewsLayout = 0, kNoInterfaceLayout = 1, kNoDeviceKeyLayout = 2;

// Readings are counted only up to this: one, or more than one.
constexpr unsigned char kMany = 2;

// The bit of a field's first line in the mask of fields that a line can begin.
unsigned FieldBit(int layout, int index) {
  return 1u << (kLayouts[layout].firstState - kFirstFieldState + index);
}

bool IsTimeField(ReportField field) {
  return field == ReportField::kFirstUsed || field == ReportField::kLastUsed;
}

// Names and descriptions are registry values, which may hold line breaks. A device key name never does
// (Windows builds it from the device's identifiers, without control characters), nor does a time.
bool CanContinue(ReportField field) {
  return field == ReportField::kFriendlyName || field == ReportField::kDescription;
}

// The layout and line index of a field state; false for the other states.
bool FieldOf(int state, int& layout, int& index) {
  for (layout = 0; layout < static_cast<int>(std::size(kLayouts)); ++layout) {
    index = state - kLayouts[layout].firstState;
    if (index >= 0 && index < kLayouts[layout].count) {
      return true;
    }
  }
  return false;
}

bool StartsWith(std::wstring_view text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// Appends `number` (not negative) in decimal, with leading zeros up to `width` digits.
void AppendDigits(std::wstring& text, int number, int width) {
  wchar_t reversed[16];
  int count = 0;
  do {
    reversed[count++] = static_cast<wchar_t>(L'0' + number % 10);
    number /= 10;
  } while (number > 0 && count < 16);
  while (count < width && count < 16) {
    reversed[count++] = L'0';
  }
  while (count > 0) {
    text += reversed[--count];
  }
}

}  // namespace

bool ReadTimeText(std::wstring_view text, std::wstring& time) {
  static constexpr std::size_t kMaxTimeTextUnits = 21;
  if (text.empty() || text.size() > kMaxTimeTextUnits) {
    return false;
  }
  // Six runs of digits; what stands between them is checked by rendering the numbers again.
  int parts[6] = {};
  int count = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] < L'0' || text[at] > L'9') {
      ++at;
      continue;
    }
    if (count == 6) {
      return false;
    }
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
      parts[count] = parts[count] * 10 + (text[at] - L'0');
    }
    ++count;
  }
  if (count != 6 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31 || parts[3] > 23 ||
      parts[4] > 59 || parts[5] > 59) {
    return false;
  }
  wchar_t rendered[kMaxTimeTextUnits + 1] = {};
  const int length = std::swprintf(rendered, std::size(rendered), kTimeTextFormat, parts[0], parts[1],
                                   parts[2], parts[3], parts[4], parts[5]);
  if (length < 0 || text != std::wstring_view(rendered, static_cast<std::size_t>(length))) {
    return false;
  }
  // "YYYY-MM-DD hh:mm:ss", put together by hand: this runs for every time of every report.
  static constexpr wchar_t kSeparators[] = {L'-', L'-', L' ', L':', L':'};
  time.clear();
  for (int p = 0; p < 6; ++p) {
    if (p > 0) {
      time += kSeparators[p - 1];
    }
    AppendDigits(time, parts[p], p == 0 ? 4 : 2);
  }
  return true;
}

ReportReader::ReportReader(const std::function<std::wstring(const wchar_t*)>& readBack)
    : header_(readBack(kReportHeader)), incompleteHeader_(readBack(kReportIncompleteHeader)) {
  for (int layout = 0; layout < static_cast<int>(std::size(kLayouts)); ++layout) {
    for (int index = 0; index < kLayouts[layout].count; ++index) {
      labels_[layout].push_back(readBack(kLayouts[layout].lines[index].label));
    }
  }
}

unsigned ReportReader::FieldStarts(std::wstring_view line, std::wstring& time) const {
  time.clear();
  unsigned starts = 0;
  // The time after a label is checked once per length of label: in a single-byte code page all labels
  // read back alike, and the two time labels have one length in every code page.
  std::size_t checkedLabelUnits = std::wstring_view::npos;
  bool validTime = false;
  for (int layout = 0; layout < static_cast<int>(std::size(kLayouts)); ++layout) {
    for (int index = 0; index < kLayouts[layout].count; ++index) {
      const std::wstring& label = labels_[layout][index];
      if (!StartsWith(line, label)) {
        continue;
      }
      if (IsTimeField(kLayouts[layout].lines[index].field)) {
        const std::wstring_view value = line.substr(label.size());
        if (checkedLabelUnits != label.size()) {
          checkedLabelUnits = label.size();
          validTime = value.empty() || ReadTimeText(value, time);
        }
        if (!validTime) {
          continue;
        }
      }
      starts |= FieldBit(layout, index);
    }
  }
  return starts;
}

template <typename Visit>
void ReportReader::ForEachTransition(int state, std::wstring_view line, unsigned starts,
                                     Visit&& visit) const {
  switch (state) {
    case kStart:
      if (line == header_) {
        visit(kAfterHeader);
      }
      return;
    case kAfterHeader:
      if (line.empty()) {
        visit(kSection1);
      }
      return;
    case kSection1:
      if (starts & FieldBit(kBothViewsLayout, 0)) {
        visit(kLayouts[kBothViewsLayout].firstState);
      }
      if (line == incompleteHeader_) {
        visit(kAfterIncompleteHeader);
      }
      return;
    case kAfterIncompleteHeader:
      if (line.empty()) {
        visit(kSection2);
      }
      return;
    case kSection2:
      if (starts & FieldBit(kNoInterfaceLayout, 0)) {
        visit(kLayouts[kNoInterfaceLayout].firstState);
      }
      [[fallthrough]];
    case kSection3:
      if (starts & FieldBit(kNoDeviceKeyLayout, 0)) {
        visit(kLayouts[kNoDeviceKeyLayout].firstState);
      }
      return;
    default:
      break;
  }
  int layout = 0, index = 0;
  if (!FieldOf(state, layout, index)) {
    return;
  }
  // A name or a description may go on over further lines, none of them empty.
  if (CanContinue(kLayouts[layout].lines[index].field) && !line.empty()) {
    visit(state);
  }
  if (index + 1 < kLayouts[layout].count) {
    if (starts & FieldBit(layout, index + 1)) {
      visit(state + 1);
    }
  } else if (line.empty()) {
    visit(kLayouts[layout].sectionAfter);
  }
}

ReportReading ReportReader::Read(std::wstring_view text) const {
  ReportReading reading;
  std::vector<std::wstring_view> lines;
  std::size_t begin = 0;
  for (std::size_t end = text.find(kReportLineEnd); end != std::wstring_view::npos;
       end = text.find(kReportLineEnd, begin)) {
    lines.push_back(text.substr(begin, end - begin));
    begin = end + std::wcslen(kReportLineEnd);
  }
  // Text after the last line break is a line cut short: no reading can end there.
  const bool endsWithLineEnd = begin == text.size();
  if (lines.empty() || lines[0] != header_) {
    reading.outcome = ReportReading::kNotAReport;
    return reading;
  }

  // What each line can begin, and its time in the table's form where it is a time line.
  std::vector<unsigned> starts(lines.size());
  std::vector<std::wstring> times(lines.size());
  for (std::size_t j = 0; j < lines.size(); ++j) {
    starts[j] = FieldStarts(lines[j], times[j]);
  }

  // ways[j][s]: the number of readings (up to kMany) of the lines from j on, starting in state s.
  const std::size_t lineCount = lines.size();
  std::vector<unsigned char> ways((lineCount + 1) * kStateCount, 0);
  const auto Ways = [&ways](std::size_t line, int state) -> unsigned char& {
    return ways[line * kStateCount + static_cast<std::size_t>(state)];
  };
  Ways(lineCount, kSection2) = Ways(lineCount, kSection3) = endsWithLineEnd ? 1 : 0;
  for (std::size_t j = lineCount; j-- > 0;) {
    for (int state = 0; state < kStateCount; ++state) {
      unsigned sum = 0;
      ForEachTransition(state, lines[j], starts[j], [&](int next) { sum += Ways(j + 1, next); });
      Ways(j, state) = static_cast<unsigned char>(sum < kMany ? sum : kMany);
    }
  }

  if (Ways(0, kStart) == 0) {
    // No reading: find the line that no state takes, or the last line that ends a whole block.
    std::vector<char> reached(kStateCount, 0), next(kStateCount, 0);
    reached[kStart] = 1;
    reading.line = 1;
    for (std::size_t j = 0; j < lineCount; ++j) {
      std::fill(next.begin(), next.end(), 0);
      bool any = false;
      for (int state = 0; state < kStateCount; ++state) {
        if (reached[state]) {
          ForEachTransition(state, lines[j], starts[j], [&](int to) { next[to] = any = true; });
        }
      }
      if (!any) {
        reading.outcome = ReportReading::kMisfit;
        reading.line = static_cast<int>(j + 1);
        return reading;
      }
      reached.swap(next);
      if (reached[kSection1] || reached[kSection2] || reached[kSection3]) {
        reading.line = static_cast<int>(j + 1);
      }
    }
    reading.outcome = ReportReading::kIncomplete;
    return reading;
  }

  // Walk the one reading, taking each line by the only transition that still leads to a reading.
  int state = kStart;
  ReportRecord record{};
  for (std::size_t j = 0; j < lineCount; ++j) {
    int viable = 0, chosen = 0;
    ForEachTransition(state, lines[j], starts[j], [&](int next) {
      if (Ways(j + 1, next) > 0) {
        ++viable;
        chosen = next;
      }
    });
    if (viable > 1) {
      reading.outcome = ReportReading::kAmbiguous;
      reading.line = static_cast<int>(j + 1);
      reading.records.clear();
      return reading;
    }
    int layout = 0, index = 0;
    if (FieldOf(chosen, layout, index)) {
      const ReportLine& field = kLayouts[layout].lines[index];
      std::wstring& value = record.fields[static_cast<int>(field.field)];
      if (chosen == state) {
        value.append(kReportLineEnd).append(lines[j]);
      } else {
        if (index == 0) {
          record = ReportRecord{kLayouts[layout].kind, {}};
        }
        if (IsTimeField(field.field)) {
          value = times[j];
        } else {
          value.assign(lines[j].substr(labels_[layout][index].size()));
        }
      }
    } else if (FieldOf(state, layout, index)) {
      reading.records.push_back(record);
    }
    state = chosen;
  }
  reading.outcome = ReportReading::kRead;
  reading.line = static_cast<int>(lineCount);
  return reading;
}
