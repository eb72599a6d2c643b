#include "text/utf8.h"

#include <windows.h>

#include <climits>

void AppendUtf8(std::wstring_view text, std::string& bytes) {
  if (text.empty() || text.size() > INT_MAX / 3) {
    return;
  }
  // No UTF-16 unit gives more than three bytes (a pair of surrogates gives four for its two units).
  const std::size_t start = bytes.size();
  bytes.resize(start + text.size() * 3);
  const int written = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          &bytes[start], static_cast<int>(text.size() * 3), nullptr, nullptr);
  bytes.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}
