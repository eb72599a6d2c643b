#pragma once

#include <iterator>
#include <string>
#include <string_view>

// The code pages in which the program may have written a report, tried in this order: the system ANSI
// code pages of Traditional Chinese, Simplified Chinese, Japanese and Korean Windows, UTF-8 (which
// Windows 10 and later can make the system code page) and Western European. The report's header has
// other bytes in each; every single-byte code page writes it as in 1252, so such a file is read as 1252.
constexpr unsigned kReportCodePages[] = {950, 936, 932, 949, 65001, 1252};

// `literal`, one of the report's fixed texts, as it reads back from a file in `codePage`: converted as
// the program converts its report (best fit, else the code page's default character), then back.
std::wstring ReadBack(unsigned codePage, const wchar_t* literal);

// Tells a report's code page from its first line. The header's bytes in each code page are made once,
// for all the files to be read.
class CodePageRecognizer {
 public:
  CodePageRecognizer();

  // The code page of the kReportCodePages whose rendering of the report's header is the file's first
  // line, or 0 when there is none.
  unsigned CodePageOf(std::string_view bytes) const;

 private:
  std::string headers_[std::size(kReportCodePages)];
};

// Decodes the whole file from `codePage` into `text`. False when it holds bytes that are not text in that
// code page, or a NUL: no report the program writes holds either.
bool DecodeReport(std::string_view bytes, unsigned codePage, std::wstring& text);
