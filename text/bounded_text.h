#pragma once

#include <cstddef>
#include <cstring>
#include <cwchar>

// Copies and appends of terminated UTF-16 text into fixed buffers: nothing is ever written past a
// buffer's capacity (in units, terminator included), and the text is always left terminated.

// Copies the terminated `source` into `destination` (`capacity` units), cut to fit.
inline void CopyBounded(wchar_t* destination, std::size_t capacity, const wchar_t* source) {
  const std::size_t length = wcsnlen(source, capacity - 1);
  std::memcpy(destination, source, length * sizeof(wchar_t));
  destination[length] = L'\0';
}

// Appends `piece` at `length` within `capacity` units, as much of it as fits, and advances `length`. False
// when the piece was cut.
inline bool AppendBounded(wchar_t* text, std::size_t capacity, std::size_t& length, const wchar_t* piece) {
  const std::size_t room = capacity - 1 - length;
  const std::size_t pieceLength = std::wcslen(piece);
  const std::size_t copied = pieceLength < room ? pieceLength : room;
  std::memcpy(text + length, piece, copied * sizeof(wchar_t));
  length += copied;
  text[length] = L'\0';
  return copied == pieceLength;
}
