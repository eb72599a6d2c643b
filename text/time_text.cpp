#include "text/time_text.h"

#include <cwchar>
#include <iterator>

namespace {

bool IsDigit(wchar_t unit) {
  return unit >= L'0' && unit <= L'9';
}

// The six numbers of time text, from its six runs of digits, whatever their values. What stands between
// them is left for the caller to check.
bool ReadTimeParts(std::wstring_view text, int (&parts)[6]) {
  if (text.empty() || text.size() > kMaxTimeTextUnits) {
    return false;
  }
  int count = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (!IsDigit(text[at])) {
      ++at;
      continue;
    }
    if (count == 6) {
      return false;
    }
    parts[count] = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
      if (parts[count] > kLastClockYear) {
        return false;  // more digits than any number of a time has
      }
      parts[count] = parts[count] * 10 + (text[at] - L'0');
    }
    ++count;
  }
  return count == 6;
}

// Whether the report's format renders these numbers as exactly `text`.
bool RendersAs(const int (&parts)[6], std::wstring_view text) {
  wchar_t rendered[kTimeTextCapacity] = {};
  const int length = std::swprintf(rendered, std::size(rendered), kTimeTextFormat, parts[0], parts[1],
                                   parts[2], parts[3], parts[4], parts[5]);
  return length >= 0 && text == std::wstring_view(rendered, static_cast<std::size_t>(length));
}

}  // namespace

bool ReadDigits(std::wstring_view text, std::size_t at, std::size_t units, int& number) {
  number = 0;
  if (at > text.size() || units > text.size() - at) {
    return false;
  }
  for (std::size_t i = at; i < at + units; ++i) {
    if (!IsDigit(text[i])) {
      return false;
    }
    number = number * 10 + (text[i] - L'0');
  }
  return true;
}

bool ReadTimeText(std::wstring_view text, int (&parts)[6]) {
  // A four-digit year is checked against the layout, any other by rendering the numbers again: this runs
  // for every time of every report.
  static constexpr TimeTextLayout kLayout(4);
  if (text.size() != kLayout.size) {
    return ReadTimeParts(text, parts) && RendersAs(parts, text);
  }
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (kLayout.text[at] == TimeTextLayout::kDigit ? !IsDigit(text[at]) : text[at] != kLayout.text[at]) {
      return false;
    }
  }
  // In the layout every number but the year has its fixed width, zeros in front; the year has four
  // digits and, written without zeros in front, is at least 1000.
  return ReadTimeParts(text, parts) && parts[0] >= 1000;
}

void AppendTableTime(const int* parts, int count, std::wstring& text) {
  // Put together by hand in one piece: this runs for every time of every report.
  static constexpr wchar_t kSeparators[] = {L'-', L'-', L' ', L':', L':'};
  wchar_t units[32];
  std::size_t length = 0;
  for (int p = 0; p < count; ++p) {
    if (p > 0) {
      units[length++] = kSeparators[p - 1];
    }
    wchar_t reversed[8];
    int digits = 0;
    for (int number = parts[p]; digits < 8 && (number > 0 || digits < (p == 0 ? 4 : 2)); number /= 10) {
      reversed[digits++] = static_cast<wchar_t>(L'0' + number % 10);
    }
    while (digits > 0) {
      units[length++] = reversed[--digits];
    }
  }
  text.append(units, length);
}

int ReadTableTime(std::wstring_view text, int (&parts)[6]) {
  static constexpr std::wstring_view kAfterYear = L"-dd-dd dd:dd:dd";
  const std::size_t yearUnits = text.find(L'-');
  if (yearUnits < 4 || yearUnits > DecimalDigits(kLastClockYear) || (yearUnits > 4 && text[0] == L'0')) {
    return 0;
  }
  const std::wstring_view rest = text.substr(yearUnits);
  // A day, a time to the minute, or one to the second: what the table writes stops at one of these.
  static constexpr std::size_t kEnds[] = {6, 12, 15};
  static constexpr int kCounts[] = {3, 5, 6};
  int count = 0;
  for (std::size_t e = 0; e < std::size(kEnds); ++e) {
    count = rest.size() == kEnds[e] ? kCounts[e] : count;
  }
  if (count == 0 || !ReadDigits(text, 0, yearUnits, parts[0])) {
    return 0;
  }
  for (int p = 1; p < 6; ++p) {
    parts[p] = 0;
  }
  for (std::size_t at = 0, p = 1; at < rest.size(); at += 3, ++p) {
    if (rest[at] != kAfterYear[at] || !ReadDigits(rest, at + 1, 2, parts[p])) {
      return 0;
    }
  }
  return count;
}

bool IsCalendarDay(std::wstring_view day) {
  // A day of the calendar as a person gives it: four digits of year, whatever the clock reaches.
  constexpr std::size_t kYearUnits = 4;
  int parts[6];
  return ReadTableTime(day, parts) == 3 && day.find(L'-') == kYearUnits && parts[0] > 0 && parts[1] >= 1 &&
         parts[1] <= 12 && parts[2] >= 1 && parts[2] <= DaysInMonth(parts[0], parts[1]);
}
