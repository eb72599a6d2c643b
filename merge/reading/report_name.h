#pragma once

#include <string>

// What a report's file name says of it: "YYYYMMDDhhmm-<user>-<COMPUTER>.txt", the local time of the run
// to the minute, the account signed in to the desktop and the computer's name.
struct ReportName {
  std::wstring stamp;  // "YYYYMMDDhhmm" as written, which sorts in time order
  std::wstring time;   // the same time as "YYYY-MM-DD hh:mm"
  std::wstring user;
  std::wstring computer;
  // Set when the name reads as well with this (shorter) computer name and a longer user name, and
  // letter case gives no hint which reading is right.
  std::wstring otherComputer;
};

// How a file name reads: as a report's; as a report's in every way but its time, which is no local
// minute that Windows' clock shows (IsClockTime), so that the program cannot have written it; or not
// as a report's at all.
enum class NameReading { kReportName, kImpossibleTime, kNotAReportName };

// Reads a file name (without its folder). Both names may hold '-'. The computer is the longest part
// after a '-' that can be a computer name as the program writes it (1 to 15 units, no lower-case ASCII
// letter: the NetBIOS name, which Windows gives in upper case), so that names such as DESKTOP-AB12CD3 or
// PC-07 stay whole; the user is the rest and is never empty. With kImpossibleTime, `name.time` holds the
// impossible time as the table would give it, for saying why the file is not merged.
NameReading ParseReportName(const std::wstring& fileName, ReportName& name);
