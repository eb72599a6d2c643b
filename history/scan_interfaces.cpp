#include "history/device_history.h"

void DeviceHistory::ScanInterfaces() { interfaceCount = 0; }
