#pragma once

// The ASCII letter case that Windows file names, NetBIOS names, device identifiers, service names and
// container IDs ignore: only a to z and A to Z change, every other unit stays as it is.
inline wchar_t AsciiUpperCase(wchar_t unit) {
  return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
}
