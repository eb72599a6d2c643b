#pragma once

#include <cstddef>
#include <string_view>

// The ASCII letter case that Windows file names, NetBIOS names, device identifiers, service names and
// container IDs ignore: only a to z and A to Z change, every other unit stays as it is.
inline wchar_t AsciiUpperCase(wchar_t unit) {
  return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
}

// Whether the two texts are equal when only their ASCII letters are folded to one case.
inline bool EqualsIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (AsciiUpperCase(left[i]) != AsciiUpperCase(right[i])) {
      return false;
    }
  }
  return true;
}
