#pragma once

// The days of a month (1 to 12) of a year of the Gregorian calendar, leap years included.
constexpr int DaysInMonth(long long year, int month) {
  constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}
