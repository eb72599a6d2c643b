#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "merge/writing/merged_table.h"

// One input of the merger's input path: a report file's name (UTF-8, up to the first LF) and its bytes (the
// rest). The name goes through the name's reading, the bytes through the code page's recognition, the
// decoding and the reader; whatever is read goes through the table, the overview page and the workbook,
// all in memory. Returns an empty text when every invariant held, else what broke.
std::string CheckMergeInput(const std::uint8_t* data, std::size_t size);

// UTF-8 to UTF-16 units, one unit per wchar_t as on Windows; a byte that begins no valid sequence (an
// overlong form, an encoded surrogate, past U+10FFFF) gives U+FFFD and sets `invalid`.
std::wstring Utf16Units(const std::string& bytes, bool* invalid = nullptr);

// What the merger takes from Win32, stood in for natively (native_platform.cpp).
unsigned ReportCodePage(const std::string& bytes);
bool DecodeReportText(const std::string& bytes, unsigned codePage, std::wstring& text);
std::wstring LiteralAsRead(unsigned codePage, const wchar_t* literal);
// Writes the workbook of these rows where nothing is kept; false when it could not be written.
bool WriteWorkbook(const std::vector<TableRow>& rows, std::size_t maxSheetRows);
