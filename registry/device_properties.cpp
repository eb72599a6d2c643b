#include "registry/device_properties.h"

#include <setupapi.h>

namespace {

// DEVPROPKEY and the types of the property functions, which headers for Windows XP do not declare.
struct PropertyKey {
  GUID fmtid;
  ULONG pid;
};
constexpr ULONG kFileTimeType = 0x00000010;  // DEVPROP_TYPE_FILETIME

// The device property set of a device instance's installation and its arrivals and removals;
// DEVPKEY_Device_InstallDate, _FirstInstallDate, _LastArrivalDate and _LastRemovalDate are ids 100 to 103.
constexpr GUID kInstallDates = {0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}};

using CreateListFunction = HDEVINFO(WINAPI*)(const GUID*, HWND);
using OpenInfoFunction = BOOL(WINAPI*)(HDEVINFO, PCWSTR, HWND, DWORD, PSP_DEVINFO_DATA);
using GetPropertyFunction = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const PropertyKey*, ULONG*, PBYTE,
                                          DWORD, PDWORD, DWORD);
using DeleteInfoFunction = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA);
using DestroyListFunction = BOOL(WINAPI*)(HDEVINFO);

template <typename Function>
Function As(FARPROC found) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

}  // namespace

DevicePropertyReader::DevicePropertyReader()
    : setupapi_(L"setupapi.dll"),
      openInfo_(setupapi_.Find<FARPROC>("SetupDiOpenDeviceInfoW")),
      getProperty_(setupapi_.Find<FARPROC>("SetupDiGetDevicePropertyW")),
      deleteInfo_(setupapi_.Find<FARPROC>("SetupDiDeleteDeviceInfo")),
      destroyList_(setupapi_.Find<FARPROC>("SetupDiDestroyDeviceInfoList")),
      set_(nullptr) {
  const auto createList = setupapi_.Find<FARPROC>("SetupDiCreateDeviceInfoList");
  if (createList && openInfo_ && getProperty_ && deleteInfo_ && destroyList_) {
    const HDEVINFO set = As<CreateListFunction>(createList)(nullptr, nullptr);
    set_ = set == INVALID_HANDLE_VALUE ? nullptr : set;
  }
  if (!set_) {
    openInfo_ = getProperty_ = deleteInfo_ = destroyList_ = nullptr;
  }
}

DevicePropertyReader::~DevicePropertyReader() {
  if (set_) {
    As<DestroyListFunction>(destroyList_)(set_);
  }
}

DeviceDates DevicePropertyReader::Read(const wchar_t* instanceId) const {
  DeviceDates dates;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (!set_ || !As<OpenInfoFunction>(openInfo_)(set_, instanceId, nullptr, 0, &device)) {
    return dates;
  }
  const auto getProperty = As<GetPropertyFunction>(getProperty_);
  ULONGLONG* const fields[] = {&dates.install, &dates.firstInstall, &dates.lastArrival, &dates.lastRemoval};
  for (ULONG index = 0; index < 4; ++index) {
    const PropertyKey key = {kInstallDates, 100 + index};
    ULONG type = 0;
    ULONGLONG value = 0;
    DWORD size = 0;
    // A larger value does not fit and fails; a smaller one is told by its size.
    if (getProperty(set_, &device, &key, &type, reinterpret_cast<BYTE*>(&value), sizeof value, &size, 0) &&
        type == kFileTimeType && size == sizeof value) {
      *fields[index] = value;
    }
  }
  // Only the set's element goes; the device and its keys stay as they are.
  As<DeleteInfoFunction>(deleteInfo_)(set_, &device);
  return dates;
}
