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

// Reads a file name (without its folder). Both names may hold '-'. The computer is the longest part
// after a '-' that can be a computer name as the program writes it (1 to 15 units, no lower-case ASCII
// letter: the NetBIOS name, which Windows gives in upper case), so that names such as DESKTOP-AB12CD3 or
// PC-07 stay whole; the user is the rest and is never empty. False when the name is not a report's.
bool ParseReportName(const std::wstring& fileName, ReportName& name);
