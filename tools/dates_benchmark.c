// dates_benchmark [DEVICES] [ROUNDS]: what reading the four dates of one device instance costs, per instance,
// through SetupAPI, in four ways that take turns in every round (median of ROUNDS, 5 by default) over the
// instances that tools/bench_run.py writes (the first of each of DEVICES device-type keys, 1,000 by default):
//   set per instance   a set made, the instance opened into it, and the set destroyed, for every instance
//   one set, deleted   one set for all, each instance opened into it and deleted from it once read
//   one set, kept      one set for all, every instance opened into it and kept until the set is destroyed
//   enumerator listed  USBSTOR's devices listed once into one set, present or not, and each one read
// Each line gives the milliseconds per instance in all, and the part of it that opening (or listing), the
// four property reads and destroying (or deleting) took. Not a test; run it in the benchmark's prefix:
//   WINEPREFIX=$PWD/build/bench/prefix tools/wine-run.sh build/win64/tools/dates_benchmark.exe
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

// After <windows.h>, which it needs.
#include <setupapi.h>

typedef struct {
  GUID fmtid;
  ULONG pid;
} PropertyKey;
typedef BOOL(WINAPI* GetPropertyFunction)(HDEVINFO, PSP_DEVINFO_DATA, const PropertyKey*, ULONG*, PBYTE,
                                          DWORD, PDWORD, DWORD);
static const GUID kInstallDates = {
    0x83da6326, 0x97a6, 0x4088, {0x94, 0x53, 0xa1, 0x92, 0x3f, 0x57, 0x3b, 0x29}};
static GetPropertyFunction getProperty;

enum { kWays = 4, kMaxRounds = 50 };
static const char* const kWayNames[kWays] = {"set per instance", "one set, deleted", "one set, kept",
                                             "enumerator listed"};

typedef struct {
  double open, read, close;
} Parts;

static double Seconds(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return (double)count.QuadPart / (double)frequency.QuadPart;
}

// Reads the four dates; the number read.
static int ReadDates(HDEVINFO set, SP_DEVINFO_DATA* device) {
  int read = 0;
  for (ULONG pid = 100; pid < 104; ++pid) {
    const PropertyKey key = {kInstallDates, pid};
    ULONG type = 0;
    ULONGLONG value = 0;
    DWORD size = 0;
    read += getProperty(set, device, &key, &type, (PBYTE)&value, sizeof value, &size, 0) ? 1 : 0;
  }
  return read;
}

static void InstanceId(wchar_t* id, int index) {
  _snwprintf(id, 200, L"USBSTOR\\Disk&Ven_Bench%04d&Prod_Stick&Rev_1.00\\%012d&0", index, index);
}

// One pass of one way over `devices` instances; the dates read.
static int Pass(int way, int devices, Parts* parts) {
  wchar_t id[200];
  int read = 0;
  HDEVINFO set = way == 0 ? NULL : SetupDiCreateDeviceInfoList(NULL, NULL);
  if (way == 3) {
    double start = Seconds();
    SetupDiDestroyDeviceInfoList(set);
    set = SetupDiGetClassDevsW(NULL, L"USBSTOR", NULL, DIGCF_ALLCLASSES);
    parts->open += Seconds() - start;
    start = Seconds();
    SP_DEVINFO_DATA device = {sizeof device, {0}, 0, 0};
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
      SetupDiGetDeviceInstanceIdW(set, &device, id, 200, NULL);
      read += ReadDates(set, &device);
    }
    parts->read += Seconds() - start;
  }
  for (int i = 0; way != 3 && i < devices; ++i) {
    InstanceId(id, i);
    double start = Seconds();
    if (way == 0) {
      set = SetupDiCreateDeviceInfoList(NULL, NULL);
    }
    SP_DEVINFO_DATA device = {sizeof device, {0}, 0, 0};
    const BOOL opened = SetupDiOpenDeviceInfoW(set, id, NULL, 0, &device);
    parts->open += Seconds() - start;
    start = Seconds();
    read += opened ? ReadDates(set, &device) : 0;
    parts->read += Seconds() - start;
    start = Seconds();
    if (way == 0) {
      SetupDiDestroyDeviceInfoList(set);
    } else if (way == 1 && opened) {
      SetupDiDeleteDeviceInfo(set, &device);
    }
    parts->close += Seconds() - start;
  }
  if (way != 0) {
    const double start = Seconds();
    SetupDiDestroyDeviceInfoList(set);
    parts->close += Seconds() - start;
  }
  return read;
}

static int Compare(const void* left, const void* right) {
  const double a = *(const double*)left, b = *(const double*)right;
  return a < b ? -1 : a > b;
}

static double Median(double* values, int count) {
  qsort(values, (size_t)count, sizeof *values, Compare);
  return values[count / 2];
}

int wmain(int argc, wchar_t** argv) {
  const int devices = argc > 1 ? _wtoi(argv[1]) : 1000;
  int rounds = argc > 2 ? _wtoi(argv[2]) : 5;
  rounds = rounds < 1 ? 1 : rounds > kMaxRounds ? kMaxRounds : rounds;
  FARPROC found = GetProcAddress(LoadLibraryW(L"setupapi.dll"), "SetupDiGetDevicePropertyW");
  getProperty = (GetPropertyFunction)(void*)found;
  if (!getProperty || devices < 1) {
    fprintf(stderr, "no property function, or no devices\n");
    return 1;
  }
  static double total[kWays][kMaxRounds], open[kWays][kMaxRounds], read[kWays][kMaxRounds],
      close[kWays][kMaxRounds];
  int dates[kWays] = {0};
  for (int round = 0; round < rounds; ++round) {
    for (int way = 0; way < kWays; ++way) {
      Parts parts = {0, 0, 0};
      dates[way] = Pass(way, devices, &parts);
      // Per instance read: a listing reads every instance of the enumerator, however many there are.
      const double instances = dates[way] >= 4 ? dates[way] / 4 : 1;
      total[way][round] = (parts.open + parts.read + parts.close) * 1000 / instances;
      open[way][round] = parts.open * 1000 / instances;
      read[way][round] = parts.read * 1000 / instances;
      close[way][round] = parts.close * 1000 / instances;
    }
  }
  printf(
      "%d instances, median of %d rounds, ms per instance: all (open or list, 4 dates, destroy or delete)\n",
      devices, rounds);
  for (int way = 0; way < kWays; ++way) {
    printf("%-18s %.2f (%.2f, %.2f, %.2f), %d dates read\n", kWayNames[way], Median(total[way], rounds),
           Median(open[way], rounds), Median(read[way], rounds), Median(close[way], rounds), dates[way]);
  }
  return 0;
}
