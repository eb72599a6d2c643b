// Replays fuzz inputs under Wine through the product's own decoding and files: every file of the folders
// (and every file) named on the command line. Prints each input whose invariants broke, with what broke;
// exits 1 when any did, 2 when a folder could not be listed or nothing was replayed.
#include <cstdio>
#include <string>
#include <vector>

#include "merge/report_files.h"
#include "tests/fuzz/merge_input_check.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> files, unlisted;
  for (int i = 1; i < argc; ++i) {
    if (KindOfPath(argv[i]) == PathKind::kFolder) {
      FindFiles(
          argv[i], [](const std::wstring&) { return true; }, files, unlisted);
    } else {
      files.push_back(argv[i]);
    }
  }
  int broken = 0;
  std::string bytes;
  for (const std::wstring& file : files) {
    std::string fault = "the input cannot be read";
    if (ReadWholeFile(file, 1 << 24, bytes) == ReadOutcome::kRead) {
      fault = CheckMergeInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    if (!fault.empty()) {
      std::wprintf(L"%ls: %hs\n", file.c_str(), fault.c_str());
      ++broken;
    }
  }
  std::wprintf(L"%d inputs replayed, %d broke an invariant\n", static_cast<int>(files.size()), broken);
  return broken > 0 ? 1 : unlisted.empty() && !files.empty() ? 0 : 2;
}
