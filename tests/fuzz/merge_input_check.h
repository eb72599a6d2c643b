#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "merge/writing/merged_table.h"

// UTF-8 to UTF-16 units, one unit per wchar_t as on Windows; a byte that begins no valid sequence (an
// overlong form, an encoded surrogate, past U+10FFFF) gives U+FFFD and sets `invalid`.
std::wstring Utf16Units(const std::string& bytes, bool* invalid = nullptr);

// What the merger takes from Win32, stood in for natively (native_platform.cpp).
unsigned ReportCodePage(const std::string& bytes);
bool DecodeReportText(const std::string& bytes, unsigned codePage, std::wstring& text);
std::wstring LiteralAsRead(unsigned codePage, const wchar_t* literal);
// Writes the workbook of these rows where nothing is kept; false when it could not be written.
bool WriteWorkbook(const std::vector<TableRow>& rows, std::size_t maxSheetRows);
