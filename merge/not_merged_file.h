#pragma once

#include <string>

// A file named for merging that was not merged, with the reason: the merger's summary lists each, in path
// order, and the overview page shows the same list.
struct NotMergedFile {
  std::wstring path;
  std::wstring reason;
};
