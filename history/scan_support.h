#pragma once

#include <cstddef>
#include <memory>

// What both registry scans share: the per-item scratch buffer and the copying of record strings.

// The scratch through which a scan passes every registry name, value and time text of one item.
constexpr std::size_t kScratchUnits = 1024;
using Scratch = std::unique_ptr<wchar_t[]>;

// A fresh scratch (new[], nothrow) whose first 1,024 bytes are zero; null when the allocation fails.
Scratch NewScratch();

// Zeroes the scratch's first 1,024 bytes (512 units), the part that any query result is read from.
void ClearScratch(wchar_t* scratch);

// A record string: a new allocation (new[], nothrow) of length + 2 units holding the first `length`
// units of `text` and a terminator; null when the allocation fails. `text` must hold `length` units.
wchar_t* NewRecordString(const wchar_t* text, std::size_t length);

// The same for the zero-terminated text in a scratch; text without a terminator is cut at the scratch's
// last unit.
wchar_t* NewRecordStringFromScratch(const wchar_t* scratch);
