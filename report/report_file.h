#pragma once

#include <windows.h>

// The report's output file in the all-users desktop folder, named
// "<folder>\YYYYMMDDhhmm-<interactive user>-<COMPUTER>.txt". Owns its file handle: null while no file is
// open, INVALID_HANDLE_VALUE after a failed creation, closed by Close() or at the latest by destruction.
class ReportFile {
 public:
  static constexpr int kPathUnits = 1024;

  ReportFile();
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Builds the path and creates the file anew (replacing one of the same name), without sharing. False
  // when the file is not open for writing, also when the path did not fit its buffer.
  bool Create();

  // Converts `text` (zero-terminated UTF-16) to `codePage` and writes the bytes, without a terminator or
  // byte-order mark, with one write call. The output buffer is sized by asking the converter, so no code
  // page (UTF-8 included) can lose the report. False when nothing or not everything was written. An
  // empty text writes nothing and succeeds when a file is open.
  bool Write(const wchar_t* text, UINT codePage = CP_ACP);

  // Closes the file if one is held; afterwards no file is held (the handle is null).
  void Close();

  // The path built by the last Create(): valid while the object lives, empty before the first Create().
  const wchar_t* Path() const { return path; }

  // Composes the path from the all-users desktop folder ("C:\" when unknown), the local time to the
  // minute, the interactive user's account name and the computer name ("Unknown" for either when
  // unknown). False when the path did not fit its buffer; it is then cut and terminated.
  bool BuildPath();

  // Formats "<folder>\YYYYMMDDhhmm-<user>-<computer>.txt" into `path` (kPathUnits units), inserting the
  // names as they are. False when it does not fit; `path` then holds as much as fits, terminated.
  static bool FormatPath(wchar_t* path, const wchar_t* folder, const SYSTEMTIME& time, const wchar_t* user,
                         const wchar_t* computer);

  // The first process whose executable name equals "EXPLORER.EXE" ignoring ASCII case, opened with
  // 0x001F0FFF; null when there is none or it cannot be opened. The caller closes the handle.
  static HANDLE FindShellProcess();

  // Writes the shell process's token user's account name, without domain, into `name` (at least
  // kAccountNameUnits units), or the empty string when any step fails.
  static void GetShellUserName(wchar_t* name);
  static constexpr DWORD kAccountNameUnits = 256;

 private:
  HANDLE handle;
  wchar_t path[kPathUnits];
};
