#include "history/device_history.h"

void DeviceHistory::ScanDevices() { deviceCount = 0; }
