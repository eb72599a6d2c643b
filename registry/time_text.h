#pragma once

// A key's last-write time as the report shows it: local time, "YYYY/MM/DD  hh:mm:ss", the year without
// leading zeros and every other field in two digits. Written by RegKey::LastWriteText and read back by
// the report merger, which accepts a time only when this format renders it again to the same text.
constexpr wchar_t kTimeTextFormat[] = L"%d/%02d/%02d  %02d:%02d:%02d";
