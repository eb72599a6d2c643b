#pragma once

#include "report/report_format.h"

class DeviceHistory;

// Correlates `history` and appends its report to `text`, a zero-terminated buffer of kReportTextUnits
// units, after whatever it already holds. Stops before the first piece that would not fit, so the text is
// always terminated within the buffer.
void ComposeReport(DeviceHistory& history, wchar_t* text);
