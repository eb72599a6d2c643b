#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/calendar.h"

// A time in the report: a key's last-write time in local time, "YYYY/MM/DD  hh:mm:ss", the year without
// leading zeros and every other field in two digits. Written by RegKey::LastWriteText and read back by
// the report merger, which accepts a time only when this format renders it again to the same text.
constexpr wchar_t kTimeTextFormat[] = L"%d/%02d/%02d  %02d:%02d:%02d";

// What kTimeTextFormat renders for a year of `yearDigits` digits, with each digit as kDigit: the year's
// "%d" gives that many digits, each "%02d" two, and every other unit of the format stands as it is.
struct TimeTextLayout {
  static constexpr wchar_t kDigit = L'd';
  static constexpr std::size_t kMaxUnits = 32;
  wchar_t text[kMaxUnits] = {};
  std::size_t size = 0;

  constexpr explicit TimeTextLayout(std::size_t yearDigits) {
    for (std::size_t at = 0; kTimeTextFormat[at] != L'\0'; ++at) {
      if (kTimeTextFormat[at] != L'%') {
        text[size++] = kTimeTextFormat[at];
        continue;
      }
      const bool year = kTimeTextFormat[at + 1] == L'd';
      for (std::size_t digit = 0; digit < (year ? yearDigits : 2); ++digit) {
        text[size++] = kDigit;
      }
      at += year ? 1 : 3;
    }
  }
};

// The decimal digits of a number that is not negative.
constexpr std::size_t DecimalDigits(long long number) {
  return number < 10 ? 1 : 1 + DecimalDigits(number / 10);
}

// The longest time text, that of the clock's last year, and the units of a buffer that holds it with its
// terminator.
constexpr std::size_t kMaxTimeTextUnits = TimeTextLayout(DecimalDigits(kLastClockYear)).size;
constexpr std::size_t kTimeTextCapacity = kMaxTimeTextUnits + 1;

// Reads the `units` decimal digits at `at` of `text` into `number` (at most nine, so that it cannot
// overflow); false when any of them is no digit or lies past the text's end.
bool ReadDigits(std::wstring_view text, std::size_t at, std::size_t units, int& number);

// Reads time text as the report's format writes it into its six numbers (year, month, day, hour, minute,
// second), whatever they name: whether they name a moment is the calendar's to say (IsClockTime). False
// for any text that the format does not render from six numbers.
bool ReadTimeText(std::wstring_view text, int (&parts)[6]);

// Appends a time in the table's form: "YYYY-MM-DD hh:mm:ss" from six numbers, or "YYYY-MM-DD hh:mm" from
// the first five when `count` is 5; the year has four digits at least, every other number two.
void AppendTableTime(const int* parts, int count, std::wstring& text);

// Reads a day "YYYY-MM-DD", or a time in the table's form to the minute or to the second, into its numbers,
// those that it does not give left zero. Returns how many it read (3, 5 or 6), or 0 for any other text. The
// year has four digits, or five without a leading zero: as many as the clock's years have.
int ReadTableTime(std::wstring_view text, int (&parts)[6]);

// Whether `day` is "YYYY-MM-DD" (a four-digit year) naming a day of the calendar (leap years included).
bool IsCalendarDay(std::wstring_view day);
