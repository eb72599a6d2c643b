// bare_read FOLDER...: walks each folder and its subfolders and reads every file whole with ReadFile, nothing
// parsed, and prints how many files and bytes it read. Built as a 32-bit exe, it is what the shipped merger's
// time is measured against (tools/merge_memory.sh): the least that any merge of the same files must do.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

// Larger than any report; not much larger, since Windows checks every page of the buffer a read is given.
static char buffer[64 * 1024];
static unsigned long long files, bytes;

static void Walk(const wchar_t* folder) {
  wchar_t path[MAX_PATH];
  WIN32_FIND_DATAW found;
  _snwprintf(path, MAX_PATH, L"%ls\\*", folder);
  const HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return;
  }
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0 ||
        _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, found.cFileName) < 0) {
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(path);
      continue;
    }
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    DWORD read = 0;
    // A read that gives less than it was asked for has reached the end: a file the size of a report takes
    // one.
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &read, NULL)) {
      bytes += read;
      if (read < sizeof buffer) {
        break;
      }
    }
    files += file != INVALID_HANDLE_VALUE;
    CloseHandle(file);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    Walk(argv[i]);
  }
  printf("%llu files, %llu bytes\n", files, bytes);
  return 0;
}
