#pragma once

// The days of a month (1 to 12) of a year of the Gregorian calendar, leap years included.
constexpr int DaysInMonth(long long year, int month) {
  constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar (negative before it).
constexpr long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

// The years that Windows' clock and a registry time can have: a FILETIME, and the SYSTEMTIME that it
// converts to, run from 1601 to 30827.
constexpr long long kFirstClockYear = 1601;
constexpr long long kLastClockYear = 30827;

// Whether the numbers name a moment that Windows' clock can show: a year that it reaches, a month 1 to 12,
// a day that the month has, an hour 0 to 23, a minute and a second 0 to 59. Neither a report's name nor its
// times can hold any other, since the program writes them from that clock.
constexpr bool IsClockTime(long long year, int month, int day, int hour, int minute, int second) {
  return year >= kFirstClockYear && year <= kLastClockYear && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
         second >= 0 && second <= 59;
}
