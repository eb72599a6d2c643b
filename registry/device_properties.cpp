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
using DestroyListFunction = BOOL(WINAPI*)(HDEVINFO);

template <typename Function>
Function As(FARPROC found) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// One device information set, destroyed with the object, so that no set outlives its read.
class DeviceInfoList {
 public:
  explicit DeviceInfoList(CreateListFunction create, DestroyListFunction destroy)
      : list_(create(nullptr, nullptr)), destroy_(destroy) {}
  ~DeviceInfoList() {
    if (list_ != INVALID_HANDLE_VALUE) {
      destroy_(list_);
    }
  }
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;

  HDEVINFO Handle() const { return list_; }

 private:
  HDEVINFO list_;
  DestroyListFunction destroy_;
};

}  // namespace

DevicePropertyReader::DevicePropertyReader()
    : setupapi_(L"setupapi.dll"),
      createList_(setupapi_.Find<FARPROC>("SetupDiCreateDeviceInfoList")),
      openInfo_(setupapi_.Find<FARPROC>("SetupDiOpenDeviceInfoW")),
      getProperty_(setupapi_.Find<FARPROC>("SetupDiGetDevicePropertyW")),
      destroyList_(setupapi_.Find<FARPROC>("SetupDiDestroyDeviceInfoList")) {
  if (!createList_ || !openInfo_ || !getProperty_ || !destroyList_) {
    createList_ = openInfo_ = getProperty_ = destroyList_ = nullptr;
  }
}

DeviceDates DevicePropertyReader::Read(const wchar_t* instanceId) const {
  DeviceDates dates;
  if (!getProperty_) {
    return dates;
  }
  const DeviceInfoList list(As<CreateListFunction>(createList_), As<DestroyListFunction>(destroyList_));
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (list.Handle() == INVALID_HANDLE_VALUE ||
      !As<OpenInfoFunction>(openInfo_)(list.Handle(), instanceId, nullptr, 0, &device)) {
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
    if (getProperty(list.Handle(), &device, &key, &type, reinterpret_cast<BYTE*>(&value), sizeof value, &size,
                    0) &&
        type == kFileTimeType && size == sizeof value) {
      *fields[index] = value;
    }
  }
  return dates;
}
