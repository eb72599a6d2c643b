#pragma once

#include <cstdint>

class DeviceHistory;

// The report buffer: 1,048,576 UTF-16 units, so at most 1,048,575 units of text and the terminator.
constexpr std::int32_t kReportTextUnits = 1048576;

// Correlates `history` and appends its report to `text`, a zero-terminated buffer of kReportTextUnits
// units, after whatever it already holds. Stops before the first piece that would not fit, so the text is
// always terminated within the buffer.
void ComposeReport(DeviceHistory& history, wchar_t* text);
