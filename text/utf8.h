#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// UTF-16 to UTF-8 as Windows converts it, appended to `bytes`.
void AppendUtf8(std::wstring_view text, std::string& bytes);

// One code point (below U+110000, no surrogate) as UTF-8, appended to `bytes`.
inline void AppendCodePointUtf8(std::uint32_t code, std::string& bytes) {
  if (code < 0x80) {
    bytes += static_cast<char>(code);
  } else if (code < 0x800) {
    bytes += static_cast<char>(0xC0 | (code >> 6));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    bytes += static_cast<char>(0xE0 | (code >> 12));
    bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    bytes += static_cast<char>(0xF0 | (code >> 18));
    bytes += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    bytes += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    bytes += static_cast<char>(0x80 | (code & 0x3F));
  }
}
