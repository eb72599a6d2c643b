#include "merge/reading/report_reader.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "text/calendar.h"
#include "text/time_text.h"

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

std::uint32_t StateBit(int state) {
  return std::uint32_t{1} << state;
}

// Calls `visit` with each state whose bit is set in `states`.
template <typename Visit>
void ForEachState(std::uint32_t states, Visit&& visit) {
  for (int state = 0; states != 0; ++state, states >>= 1) {
    if (states & 1) {
      visit(state);
    }
  }
}

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

// The layout and line index of a field state; false for the other states. Looked up in a table made once:
// the readings visit every state for every line.
struct FieldPlace {
  int layout = -1;
  int index = 0;
};
struct FieldPlaces {
  FieldPlace ofState[kStateCount];
  constexpr FieldPlaces() {
    for (int layout = 0; layout < static_cast<int>(std::size(kLayouts)); ++layout) {
      for (int index = 0; index < kLayouts[layout].count; ++index) {
        ofState[kLayouts[layout].firstState + index] = {layout, index};
      }
    }
  }
};
constexpr FieldPlaces kFieldPlaces;

bool FieldOf(int state, int& layout, int& index) {
  const FieldPlace& place = kFieldPlaces.ofState[state];
  layout = place.layout;
  index = place.index;
  return layout >= 0;
}

bool StartsWith(std::wstring_view text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ReportReader::ReportReader(const std::function<std::wstring(const wchar_t*)>& readBack)
    : header_(readBack(kReportHeader)), incompleteHeader_(readBack(kReportIncompleteHeader)) {
  for (int layout = 0; layout < static_cast<int>(std::size(kLayouts)); ++layout) {
    for (int index = 0; index < kLayouts[layout].count; ++index) {
      labels_[layout].push_back(readBack(kLayouts[layout].lines[index].label));
      const std::wstring& text = labels_[layout].back();
      std::size_t d = 0;
      while (d < distinctLabels_.size() && distinctLabels_[d].text != text) {
        ++d;
      }
      if (d == distinctLabels_.size()) {
        distinctLabels_.push_back({text, 0, 0});
      }
      distinctLabels_[d].fields |= FieldBit(layout, index);
      if (IsTimeField(kLayouts[layout].lines[index].field)) {
        distinctLabels_[d].timeFields |= FieldBit(layout, index);
      }
    }
  }
}

unsigned ReportReader::FieldStarts(std::wstring_view line) const {
  unsigned starts = 0;
  for (const DistinctLabel& label : distinctLabels_) {
    if (!StartsWith(line, label.text)) {
      continue;
    }
    // The fields with this label whose value is a time take the line only when it holds one, or nothing.
    int parts[6];
    const std::wstring_view value = line.substr(label.text.size());
    const bool time = value.empty() || ReadTimeText(value, parts);
    starts |= time ? label.fields : label.fields & ~label.timeFields;
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

void ReportReader::Read(std::wstring_view text, ReportReading& reading) const {
  reading.outcome = ReportReading::kNotAReport;
  reading.line = 1;
  reading.content.values.clear();
  reading.content.records.clear();
  std::vector<std::wstring_view>& lines = lines_;
  lines.clear();
  const std::wstring_view lineEnd(kReportLineEnd);
  std::size_t begin = 0;
  for (std::size_t end = text.find(lineEnd); end != std::wstring_view::npos;
       end = text.find(lineEnd, begin)) {
    lines.push_back(text.substr(begin, end - begin));
    begin = end + lineEnd.size();
  }
  // Text after the last line break is a line cut short: no reading can end there.
  const bool endsWithLineEnd = begin == text.size();
  if (lines.empty() || lines[0] != header_) {
    return;
  }
  const std::size_t lineCount = lines.size();

  // What each line can begin; then reached[j], the states (a bit each) that the lines before j can lead to.
  std::vector<unsigned>& starts = starts_;
  std::vector<std::uint32_t>& reached = reached_;
  starts.assign(lineCount, 0);
  reached.assign(lineCount + 1, 0);
  reached[0] = StateBit(kStart);
  for (std::size_t j = 0; j < lineCount; ++j) {
    starts[j] = FieldStarts(lines[j]);
    ForEachState(reached[j], [&](int state) {
      ForEachTransition(state, lines[j], starts[j], [&](int next) { reached[j + 1] |= StateBit(next); });
    });
    if (reached[j + 1] == 0) {
      reading.outcome = ReportReading::kMisfit;
      reading.line = static_cast<int>(j + 1);
      return;
    }
  }

  // ways[j][s]: the number of readings (up to kMany) of the lines from j on, starting in state s; counted
  // only for the states that line j can be reached in.
  std::vector<unsigned char>& ways = ways_;
  ways.assign((lineCount + 1) * kStateCount, 0);
  const auto Ways = [&ways](std::size_t line, int state) -> unsigned char& {
    return ways[line * kStateCount + static_cast<std::size_t>(state)];
  };
  Ways(lineCount, kSection2) = Ways(lineCount, kSection3) = endsWithLineEnd ? 1 : 0;
  for (std::size_t j = lineCount; j-- > 0;) {
    ForEachState(reached[j], [&](int state) {
      unsigned sum = 0;
      ForEachTransition(state, lines[j], starts[j], [&](int next) { sum += Ways(j + 1, next); });
      Ways(j, state) = static_cast<unsigned char>(sum < kMany ? sum : kMany);
    });
  }
  if (Ways(0, kStart) == 0) {
    // The file ends inside a record or before the second header: say where the last whole block ended.
    const std::uint32_t betweenRecords = StateBit(kSection1) | StateBit(kSection2) | StateBit(kSection3);
    reading.outcome = ReportReading::kIncomplete;
    reading.line = 1;
    for (std::size_t j = 1; j <= lineCount; ++j) {
      reading.line = (reached[j] & betweenRecords) ? static_cast<int>(j) : reading.line;
    }
    return;
  }

  // Walk the one reading, taking each line by the only transition that still leads to a reading.
  int state = kStart;
  ReportContent& content = reading.content;
  ReportRecord record;
  int currentField = 0;
  std::size_t fieldLine = 0;
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
      content.values.clear();
      content.records.clear();
      return;
    }
    int layout = 0, index = 0;
    if (FieldOf(chosen, layout, index)) {
      if (chosen == state) {
        content.values.append(kReportLineEnd).append(lines[j]);
      } else {
        if (index == 0) {
          record = ReportRecord{};
          record.kind = kLayouts[layout].kind;
        }
        const ReportField field = kLayouts[layout].lines[index].field;
        const std::wstring_view rest = lines[j].substr(labels_[layout][index].size());
        currentField = static_cast<int>(field);
        fieldLine = j;
        record.begin[currentField] = static_cast<std::uint32_t>(content.values.size());
        int parts[6];
        if (!IsTimeField(field)) {
          content.values.append(rest);
        } else if (!rest.empty() && ReadTimeText(rest, parts)) {
          if (!IsClockTime(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5])) {
            reading.outcome = ReportReading::kNoSuchTime;
            reading.line = static_cast<int>(j + 1);
            content.values.clear();
            content.records.clear();
            return;
          }
          AppendTableTime(parts, 6, content.values);
        }
      }
      record.length[currentField] =
          static_cast<std::uint32_t>(content.values.size() - record.begin[currentField]);
      if (record.length[currentField] > kMaxReportValueUnits) {
        reading.outcome = ReportReading::kTooLong;
        reading.line = static_cast<int>(fieldLine + 1);
        content.values.clear();
        content.records.clear();
        return;
      }
    } else if (FieldOf(state, layout, index)) {
      content.records.push_back(record);
    }
    state = chosen;
  }
  reading.outcome = ReportReading::kRead;
  reading.line = static_cast<int>(lineCount);
}
