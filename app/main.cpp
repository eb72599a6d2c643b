#include <windows.h>

#include <cstddef>
#include <cstring>
#include <new>

#include "app/run_setting.h"
#include "history/device_history.h"
#include "report/compose_report.h"
#include "report/report_file.h"

namespace {

constexpr int kExitReported = 0;
constexpr int kExitNoMemory = 1;
constexpr int kExitReportNotSaved = 2;

constexpr wchar_t kReportedCaption[] = L"報告產生完成";
constexpr wchar_t kNotSavedCaption[] = L"報告產生失敗";
constexpr UINT kReportedStyle = MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL;
constexpr UINT kNotSavedStyle = MB_OK | MB_ICONERROR | MB_SYSTEMMODAL;

// The text starts empty: clearing the first half of the buffer (in bytes) is enough, since the
// composition keeps it terminated and never reads past its end.
constexpr std::size_t kClearedTextBytes = kReportTextUnits;

}  // namespace

// One run: scan the registry, compose the report, write it to the all-users desktop and show where it
// went, when someone can see the box. Exit code 0 when the report was saved, 2 when it could not be (the
// box then says so), 1 when memory for the run's objects was missing (nothing is shown or written). With
// no one to see the box the run ends at once, with the same exit code.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  SearchDllsInTheSystemFolderOnly();
  wchar_t* text = new (std::nothrow) wchar_t[kReportTextUnits];
  if (!text) {
    return kExitNoMemory;
  }
  DeviceHistory* history = new (std::nothrow) DeviceHistory;
  if (!history) {
    delete[] text;
    return kExitNoMemory;
  }
  std::memset(text, 0, kClearedTextBytes);
  ComposeReport(*history, text);

  ReportFile* file = new (std::nothrow) ReportFile;
  if (!file) {
    history->Release();
    delete history;
    delete[] text;
    return kExitNoMemory;
  }
  const bool created = file->Create();
  const bool written = file->Write(text, CP_ACP);
  file->Close();
  const bool saved = created && written;
  if (SomeoneCanSeeTheDesktop()) {
    MessageBoxW(nullptr, file->Path(), saved ? kReportedCaption : kNotSavedCaption,
                saved ? kReportedStyle : kNotSavedStyle);
  }

  delete file;
  history->Release();
  delete history;
  delete[] text;
  return saved ? kExitReported : kExitReportNotSaved;
}
