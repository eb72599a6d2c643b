#include "merge/reading/report_name.h"

#include <cstddef>
#include <cwchar>

#include "report/report_format.h"
#include "text/ascii.h"
#include "text/calendar.h"
#include "text/time_text.h"

namespace {

constexpr std::size_t kMaxComputerUnits = 15;

bool HasLowerCaseLetter(const std::wstring& text, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    if (AsciiUpperCase(text[i]) != text[i]) {
      return true;
    }
  }
  return false;
}

bool EndsWithExtension(const std::wstring& fileName) {
  const std::size_t extensionUnits = std::wcslen(kReportNameExtension);
  // Windows keeps file names without regard to letter case: a copy may have become ".TXT".
  return fileName.size() >= extensionUnits &&
         EqualsIgnoringAsciiCase(std::wstring_view(fileName).substr(fileName.size() - extensionUnits),
                                 kReportNameExtension);
}

// The stamp's five numbers when it is written in exactly the form that the program's format gives them.
bool ReadStamp(const std::wstring& stamp, int (&parts)[5]) {
  static constexpr std::size_t kDigits[] = {4, 2, 2, 2, 2};
  std::size_t at = 0;
  for (int p = 0; p < 5; at += kDigits[p++]) {
    if (!ReadDigits(stamp, at, kDigits[p], parts[p])) {
      return false;
    }
  }
  wchar_t rendered[32] = {};
  std::swprintf(rendered, 32, kReportNameStampFormat, parts[0], parts[1], parts[2], parts[3], parts[4]);
  return stamp == rendered;
}

}  // namespace

NameReading ParseReportName(const std::wstring& fileName, ReportName& name) {
  const std::size_t separatorUnits = std::wcslen(kReportNameSeparator);
  const std::size_t namesBegin = kReportNameStampUnits + separatorUnits;
  if (!EndsWithExtension(fileName) || fileName.size() <= namesBegin + std::wcslen(kReportNameExtension) ||
      fileName.compare(kReportNameStampUnits, separatorUnits, kReportNameSeparator) != 0) {
    return NameReading::kNotAReportName;
  }
  name.stamp = fileName.substr(0, kReportNameStampUnits);
  int parts[5];
  if (!ReadStamp(name.stamp, parts)) {
    return NameReading::kNotAReportName;
  }
  name.time.clear();
  AppendTableTime(parts, 5, name.time);

  // Every separator after the first unit of the names is a possible border between user and computer;
  // the first one that leaves a valid computer name gives the longest.
  const std::size_t namesEnd = fileName.size() - std::wcslen(kReportNameExtension);
  std::size_t border = std::wstring::npos;
  name.otherComputer.clear();
  for (std::size_t at = fileName.find(kReportNameSeparator, namesBegin + 1); at < namesEnd;
       at = fileName.find(kReportNameSeparator, at + 1)) {
    const std::size_t computerBegin = at + separatorUnits;
    const std::size_t computerUnits = namesEnd - computerBegin;
    if (computerUnits == 0 || computerUnits > kMaxComputerUnits ||
        HasLowerCaseLetter(fileName, computerBegin, namesEnd)) {
      continue;
    }
    if (border == std::wstring::npos) {
      border = at;
    } else if (!HasLowerCaseLetter(fileName, namesBegin, border)) {
      name.otherComputer = fileName.substr(computerBegin, computerUnits);
      break;
    }
  }
  if (border == std::wstring::npos) {
    return NameReading::kNotAReportName;
  }
  name.user = fileName.substr(namesBegin, border - namesBegin);
  name.computer = fileName.substr(border + separatorUnits, namesEnd - border - separatorUnits);
  // The program writes its local time, which Windows' clock shows.
  return IsClockTime(parts[0], parts[1], parts[2], parts[3], parts[4], 0) ? NameReading::kReportName
                                                                          : NameReading::kImpossibleTime;
}
