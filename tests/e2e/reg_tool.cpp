// Registry helper for the end-to-end tests, run under Wine in the same prefix as the program under test.
//
//   reg_tool dump OUTFILE        writes every key under HKLM and HKCU (path, last-write time, values with
//                                type and raw bytes) to OUTFILE as UTF-16LE lines, so that two snapshots
//                                taken around a run can be compared exactly, key times included.
//   reg_tool churn STOPFILE SECS keeps adding and removing USB storage device-type keys (with an instance
//                                key and its values) and disk and CD-ROM interface entries (with their "#"
//                                subkey) until STOPFILE exists or SECS seconds have passed; prints the number
//                                of rounds. Runs beside the program so that its scans see keys come and go.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kUsbstor[] = L"SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
const wchar_t* const kClassKeys[] = {
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
    L"SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
};

void AppendHex(std::wstring& out, const BYTE* data, DWORD size) {
  wchar_t byte[4];
  for (DWORD i = 0; i < size; ++i) {
    swprintf(byte, 4, L"%02x", data[i]);
    out += byte;
  }
}

// Depth-first walk in enumeration order; every line carries the full path so that lines compare alone.
void DumpKey(HKEY key, const std::wstring& path, std::wstring& out) {
  DWORD subkeys = 0, values = 0, maxValueName = 0, maxData = 0;
  FILETIME written = {};
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &maxValueName,
                       &maxData, nullptr, &written) != ERROR_SUCCESS) {
    out += L"K " + path + L"\t<unreadable>\n";
    return;
  }
  wchar_t line[64];
  swprintf(line, 64, L"\t%08lx%08lx\n", written.dwHighDateTime, written.dwLowDateTime);
  out += L"K " + path + line;

  std::vector<wchar_t> name(maxValueName + 2);
  std::vector<BYTE> data(maxData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameUnits = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameUnits, nullptr, &type, data.data(), &dataBytes) !=
        ERROR_SUCCESS) {
      out += L"V " + path + L"\t#" + std::to_wstring(i) + L"\t<unreadable>\n";
      continue;
    }
    out +=
        L"V " + path + L"\t" + std::wstring(name.data(), nameUnits) + L"\t" + std::to_wstring(type) + L"\t";
    AppendHex(out, data.data(), dataBytes);
    out += L"\n";
  }

  wchar_t subName[256];
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD units = 256;
    if (RegEnumKeyExW(key, i, subName, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      continue;
    }
    HKEY sub = nullptr;
    std::wstring subPath = path + L"\\" + std::wstring(subName, units);
    if (RegOpenKeyExW(key, subName, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
      out += L"K " + subPath + L"\t<unopenable>\n";
      continue;
    }
    DumpKey(sub, subPath, out);
    RegCloseKey(sub);
  }
}

int Dump(const wchar_t* outPath) {
  // Wine's graphics driver records its state under Control\Video the first time a process of a server's
  // life uses user32; doing that here keeps the write out of the snapshot taken after the program ran.
  GetDesktopWindow();
  std::wstring out;
  DumpKey(HKEY_LOCAL_MACHINE, L"HKLM", out);
  DumpKey(HKEY_CURRENT_USER, L"HKCU", out);
  FILE* file = _wfopen(outPath, L"wb");
  if (file == nullptr) {
    return 3;
  }
  size_t written = fwrite(out.data(), sizeof(wchar_t), out.size(), file);
  int closed = fclose(file);
  return written == out.size() && closed == 0 ? 0 : 3;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool CreateTree(const std::wstring& path, HKEY* created) {
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, created,
                         nullptr) == ERROR_SUCCESS;
}

// The keys of churn device `id`: its device-type key, its instance key and its interface entry, in the
// disk class for even ids and the CD-ROM class for odd ones.
struct ChurnKeys {
  std::wstring type, instance, entry;
};

ChurnKeys KeysOf(int id) {
  wchar_t typeName[96];
  swprintf(typeName, 96, L"Disk&Ven_Churn&Prod_Stick_%d&Rev_1.00", id);
  wchar_t instance[32];
  swprintf(instance, 32, L"%08d&0", id);
  const std::wstring type = std::wstring(kUsbstor) + L"\\" + typeName;
  const wchar_t* guid = std::wcsrchr(kClassKeys[id % 2], L'\\') + 1;
  return {type, type + L"\\" + instance,
          std::wstring(kClassKeys[id % 2]) + L"\\##?#USBSTOR#" + typeName + L"#" + instance + L"#" + guid};
}

// Adds the instance key with its two values and the entry with its "#" subkey. Each step is a separate
// registry call, so a concurrent reader can see any prefix of it.
void AddDevice(int id) {
  const ChurnKeys keys = KeysOf(id);
  HKEY key = nullptr;
  if (CreateTree(keys.instance, &key)) {
    SetString(key, L"FriendlyName", L"Churn Stick " + std::to_wstring(id) + L" USB Device");
    SetString(key, L"DeviceDesc", L"Disk drive");
    RegCloseKey(key);
  }
  if (CreateTree(keys.entry + L"\\#", &key)) {
    SetString(key, L"SymbolicLink", L"\\\\?\\churn");
    RegCloseKey(key);
  }
}

void RemoveDevice(int id) {
  const ChurnKeys keys = KeysOf(id);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, keys.entry.c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, keys.type.c_str());
}

int Churn(const wchar_t* stopPath, int seconds) {
  const int kLive = 12;
  ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  long rounds = 0;
  // Devices are added at the front of the id range and removed from the back, so that the set of live keys
  // changes at both ends of the enumeration order and indexes shift under a reader.
  for (int id = 0; GetFileAttributesW(stopPath) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline;
       ++id) {
    AddDevice(id);
    if (id >= kLive) {
      RemoveDevice(id - kLive);
    }
    ++rounds;
  }
  for (int id = rounds > kLive ? static_cast<int>(rounds) - kLive : 0; id < rounds; ++id) {
    RemoveDevice(id);
  }
  std::printf("%ld\n", rounds);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && wcscmp(argv[1], L"dump") == 0) {
    return Dump(argv[2]);
  }
  if (argc == 4 && wcscmp(argv[1], L"churn") == 0) {
    return Churn(argv[2], _wtoi(argv[3]));
  }
  std::fprintf(stderr, "usage: reg_tool dump OUTFILE | churn STOPFILE SECONDS\n");
  return 2;
}
