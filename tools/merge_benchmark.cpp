// Prints how long merging 10,000 reports of 34 records each takes (the table, the overview page and the
// workbook), beside a plain read of the same files, and the process's peak working set after merging half
// of them and all of them. Not a test: the figures depend on the machine. Run it under Wine, in a copy of
// the pristine prefix (see README.md).
//
// merge_benchmark [FOLDER]: the reports are made once, by the program's own composer, into FOLDER (by
// default merge_reports beside this exe), and reused by later runs.
#include <windows.h>

#include <psapi.h>  // after windows.h, whose types it uses

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "history/device_history.h"
#include "merge/merge_command.h"
#include "merge/report_files.h"
#include "report/compose_report.h"
#include "tools/fastest_milliseconds.h"

namespace {

constexpr int kSubfolders = 10;
constexpr int kReportsPerSubfolder = 1000;
constexpr int kReportsPerComputer = 4;
// 34 records, about 5.5 KB in code page 950: the report of a PC on which many devices have been used.
constexpr int kBothViews = 24, kNoInterface = 5, kNoDeviceKey = 5;
constexpr wchar_t kCompleteMarker[] = L"\\complete.marker";

// A string that the store owns and frees.
wchar_t* RecordString(const std::wstring& text) {
  wchar_t* copy = new wchar_t[text.size() + 1];
  std::wmemcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

std::wstring Formatted(const wchar_t* format, int first, int second = 0, int third = 0) {
  wchar_t text[128];
  std::swprintf(text, 128, format, first, second, third);
  return text;
}

// The records of one computer's report: devices of a few vendors, some seen in both views, some with no
// interface entry, and interface entries whose device key is gone.
void FillReport(DeviceHistory& store, int computer, int report) {
  static const wchar_t* const kVendors[] = {L"Kingston&Prod_DataTraveler_3.0", L"SanDisk&Prod_Cruzer_Blade",
                                            L"JetFlash&Prod_Transcend_16GB", L"Generic&Prod_Flash_Disk"};
  static const wchar_t* const kTypes[] = {L"磁碟機", L"Disk drive", L"光碟機"};
  const int devices = kBothViews + kNoInterface;
  store.devices = new DeviceRecord[devices];
  store.deviceCount = devices;
  store.interfaces = new InterfaceRecord[kBothViews + kNoDeviceKey];
  store.interfaceCount = kBothViews + kNoDeviceKey;
  for (int d = 0; d < devices; ++d) {
    const std::wstring vendor = kVendors[(computer + d) % 4];
    const std::wstring key = L"Disk&Ven_" + vendor + Formatted(L"&Rev_%d.%02d", d % 9, computer % 100);
    store.devices[d] = {
        nullptr, RecordString(kTypes[d % 3]), RecordString(key),
        RecordString(vendor.substr(0, vendor.find(L'&')) + Formatted(L" 裝置 %d USB Device", d)),
        RecordString(Formatted(L"20%02d/%02d/%02d  08:15:30", 15 + d % 9, 1 + d % 12, 1 + report))};
    if (d < kBothViews) {
      store.interfaces[d] = {
          0, RecordString(key),
          RecordString(Formatted(L"2025/%02d/%02d  17:45:%02d", 1 + d % 12, 10 + report, computer % 60))};
    }
  }
  for (int e = 0; e < kNoDeviceKey; ++e) {
    store.interfaces[kBothViews + e] = {
        0, RecordString(Formatted(L"Disk&Ven_Gone&Prod_Stick_%d&Rev_1.%d", e, computer)),
        RecordString(Formatted(L"2024/%02d/%02d  09:00:00", 1 + e, 1 + report))};
  }
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  FileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file.IsOpen() &&
         WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && file.Close();
}

// Composes every report as the program does and writes it as the program does on Traditional Chinese
// Windows: code page 950, CR LF, named YYYYMMDDhhmm-<user>-<COMPUTER>.txt.
bool MakeReports(const std::wstring& folder) {
  std::unique_ptr<wchar_t[]> text(new wchar_t[kReportTextUnits]);
  CreateDirectoryW(folder.c_str(), nullptr);
  for (int s = 0; s < kSubfolders; ++s) {
    const std::wstring subfolder = folder + Formatted(L"\\site%02d", s);
    CreateDirectoryW(subfolder.c_str(), nullptr);
    for (int r = 0; r < kReportsPerSubfolder; ++r) {
      const int index = s * kReportsPerSubfolder + r, computer = index / kReportsPerComputer;
      const int report = index % kReportsPerComputer;
      DeviceHistory store{DeviceHistory::Unscanned{}};
      FillReport(store, computer, report);
      text[0] = L'\0';
      ComposeReport(store, text.get());
      store.Release();
      const int units = static_cast<int>(std::wcslen(text.get()));
      std::string bytes(static_cast<std::size_t>(units) * 2, '\0');
      bytes.resize(static_cast<std::size_t>(
          WideCharToMultiByte(950, 0, text.get(), units, &bytes[0], units * 2, nullptr, nullptr)));
      const std::wstring name =
          Formatted(L"\\2025%02d%02d", 1 + report * 3, 1 + computer % 28) +
          Formatted(L"%02d%02d-user%d", 8 + computer % 10, computer % 60, computer % 97) +
          Formatted(L"-PC%05d.txt", computer);
      if (bytes.empty() || !WriteBytes(subfolder + name, bytes)) {
        std::fwprintf(stderr, L"cannot write %ls%ls\n", subfolder.c_str(), name.c_str());
        return false;
      }
    }
  }
  return WriteBytes(folder + kCompleteMarker, "");
}

// The reference: the merger's own walk and whole-file reads, nothing parsed. Returns the bytes read.
std::size_t ReadAll(const std::wstring& folder) {
  std::vector<std::wstring> files, unlisted;
  FindFiles(folder, IsReportFileName, files, unlisted);
  std::vector<const std::wstring*> paths;
  for (const std::wstring& file : files) {
    paths.push_back(&file);
  }
  FilesReadAhead reading(paths, kMaxReportBytes);
  std::size_t total = 0;
  std::string_view bytes;
  for (std::size_t file = 0; file < paths.size(); ++file) {
    total += reading.Next(bytes) == ReadOutcome::kRead ? bytes.size() : 0;
  }
  return total;
}

int Merge(const std::vector<std::wstring>& inputs, const std::wstring& output) {
  MergeOptions options;
  options.inputs = inputs;
  options.output = output;
  return MergeReports(options, [](const std::wstring&) {});
}

double PeakWorkingSetMegabytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

std::wstring DefaultFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD units = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, units);
  return folder.substr(0, folder.find_last_of(L'\\')) + L"\\merge_reports";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring folder = argc > 1 ? argv[1] : DefaultFolder();
  if (GetFileAttributesW((folder + kCompleteMarker).c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::wprintf(L"making %d reports in %ls\n", kSubfolders * kReportsPerSubfolder, folder.c_str());
    if (!MakeReports(folder)) {
      return 1;
    }
  }
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring output = std::wstring(temp) + L"merge_benchmark.csv";

  // Memory first, before any whole merge has raised the peak: half of the subfolders, then all of them.
  std::vector<std::wstring> half;
  for (int s = 0; s < kSubfolders / 2; ++s) {
    half.push_back(folder + Formatted(L"\\site%02d", s));
  }
  const int halfCode = Merge(half, output);
  const double halfPeak = PeakWorkingSetMegabytes();
  const int wholeCode = Merge({folder}, output);
  const double wholePeak = PeakWorkingSetMegabytes();
  if (halfCode != kMergeAllMerged || wholeCode != kMergeAllMerged) {
    std::wprintf(L"the merges exited with %d and %d, not %d\n", halfCode, wholeCode, kMergeAllMerged);
    return 1;
  }

  std::size_t bytes = 0;
  const double reference = FastestMilliseconds([&] { bytes = ReadAll(folder); });
  const double merge = FastestMilliseconds([&] { Merge({folder}, output); });
  DeleteFileW(output.c_str());
  const int reports = kSubfolders * kReportsPerSubfolder;
  std::wprintf(L"%d reports of %d records, %zu bytes, best of 3:\n", reports,
               kBothViews + kNoInterface + kNoDeviceKey, bytes);
  std::wprintf(
      L"  reference (walk and whole reads) %8.1f ms\n  merge                            %8.1f ms\n"
      L"  ratio                            %8.2f\n",
      reference, merge, merge / reference);
  std::wprintf(
      L"peak working set: %.1f MB after merging %d reports, %.1f MB after %d (%.0f bytes per added row)\n",
      halfPeak, reports / 2, wholePeak, reports,
      (wholePeak - halfPeak) * 1024 * 1024 / (reports / 2 * (kBothViews + kNoInterface + kNoDeviceKey)));
  return 0;
}
