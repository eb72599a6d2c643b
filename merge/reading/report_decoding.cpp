#include "merge/reading/report_decoding.h"

#include <windows.h>

#include <climits>
#include <cstring>

#include "report/report_format.h"

namespace {

// The bytes of `text` in `codePage`, converted with the flags the program's report file uses.
std::string Encode(unsigned codePage, const wchar_t* text, int units) {
  const int needed = WideCharToMultiByte(codePage, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string bytes(needed > 0 ? static_cast<std::size_t>(needed) : 0, '\0');
  if (needed > 0) {
    WideCharToMultiByte(codePage, 0, text, units, &bytes[0], needed, nullptr, nullptr);
  }
  return bytes;
}

}  // namespace

std::wstring ReadBack(unsigned codePage, const wchar_t* literal) {
  const std::string bytes = Encode(codePage, literal, static_cast<int>(std::wcslen(literal)));
  std::wstring text;
  DecodeReport(bytes, codePage, text);
  return text;
}

CodePageRecognizer::CodePageRecognizer() {
  for (std::size_t i = 0; i < std::size(kReportCodePages); ++i) {
    headers_[i] = Encode(kReportCodePages[i], kReportHeader, static_cast<int>(std::wcslen(kReportHeader)));
  }
}

unsigned CodePageRecognizer::CodePageOf(std::string_view bytes) const {
  for (std::size_t i = 0; i < std::size(kReportCodePages); ++i) {
    const std::string& header = headers_[i];
    const bool firstLine = !header.empty() && bytes.compare(0, header.size(), header) == 0 &&
                           (bytes.size() == header.size() || bytes.compare(header.size(), 2, "\r\n") == 0);
    if (firstLine) {
      return kReportCodePages[i];
    }
  }
  return 0;
}

bool DecodeReport(std::string_view bytes, unsigned codePage, std::wstring& text) {
  text.clear();
  if (bytes.empty()) {
    return true;
  }
  if (bytes.size() > INT_MAX || std::memchr(bytes.data(), '\0', bytes.size())) {
    return false;
  }
  // No byte of these code pages gives more than one UTF-16 unit, so one pass into that much room does.
  const int size = static_cast<int>(bytes.size());
  text.resize(bytes.size());
  const int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, &text[0], size);
  text.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
  return units > 0;
}
