#pragma once

#include <windows.h>

#include "registry/system_library.h"

// The dates that Windows keeps of one device instance, in FILETIME's units (UTC); 0 where it keeps none
// that can be used.
struct DeviceDates {
  ULONGLONG install = 0;       // when its driver was last installed
  ULONGLONG firstInstall = 0;  // when it was first installed
  ULONGLONG lastArrival = 0;   // when it last arrived (Windows 8 and later)
  ULONGLONG lastRemoval = 0;   // when it was last removed (Windows 8 and later)
};

// Reads device instances' dates through SetupAPI's device property function, which Windows documents for
// every device instance it knows, present or not (Windows Vista and later). Windows keeps these
// properties in a registry key that only SYSTEM may read; the property function reads them for any
// user, with no privilege, and changes nothing. setupapi.dll is loaded from the system folder when the
// reader is made; where the property function is missing (Windows XP) the reader reads nothing.
//
// One device information set serves every read of the reader's life: it is made with the reader and
// destroyed with it. Each read opens its one instance into that set and deletes it from the set again
// once its dates are read, so the set never holds more than one device: opening looks the ID up among
// the set's devices, which would cost time growing with the square of the instances in a set that kept
// them all.
class DevicePropertyReader {
 public:
  DevicePropertyReader();
  ~DevicePropertyReader();
  DevicePropertyReader(const DevicePropertyReader&) = delete;
  DevicePropertyReader& operator=(const DevicePropertyReader&) = delete;

  // The dates of the device instance `instanceId` ("USBSTOR\<device key name>\<instance>"). A date counts
  // only when it is a FILETIME of exactly 8 bytes and not zero; anything else, and any failure, gives 0.
  DeviceDates Read(const wchar_t* instanceId) const;

 private:
  SystemLibrary setupapi_;
  // SetupAPI's functions, all null unless the DLL has every one and the set could be made; their types
  // stay in the .cpp file, away from the headers that declare them.
  FARPROC openInfo_;
  FARPROC getProperty_;
  FARPROC deleteInfo_;
  FARPROC destroyList_;
  // The device information set (an HDEVINFO); null while there is none.
  void* set_;
};
