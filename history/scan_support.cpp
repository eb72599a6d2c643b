#include "history/scan_support.h"

#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Only this much of a scratch is cleared before a query: every query result fits in it, terminator
// included (names of at most 255 units, value data of at most 256 units, time text of at most 22).
constexpr std::size_t kScratchClearedBytes = 1024;

}  // namespace

Scratch NewScratch() {
  Scratch scratch(new (std::nothrow) wchar_t[kScratchUnits]);
  if (scratch) {
    ClearScratch(scratch.get());
  }
  return scratch;
}

void ClearScratch(wchar_t* scratch) {
  std::memset(scratch, 0, kScratchClearedBytes);
}

wchar_t* NewRecordString(const wchar_t* text, std::size_t length) {
  wchar_t* copy = new (std::nothrow) wchar_t[length + 2];
  if (!copy) {
    return nullptr;
  }
  // The first length + 2 bytes, as the stored strings have always been prepared; the copy and its
  // terminator then cover every unit that is ever read.
  std::memset(copy, 0, length + 2);
  std::wmemcpy(copy, text, length);
  copy[length] = L'\0';
  return copy;
}

wchar_t* NewRecordStringFromScratch(const wchar_t* scratch) {
  return NewRecordString(scratch, wcsnlen(scratch, kScratchUnits - 1));
}
