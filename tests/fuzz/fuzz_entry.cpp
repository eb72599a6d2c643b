// libFuzzer's entry: a broken invariant is a crash, with what broke on stderr.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/merge_input_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = CheckMergeInput(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "invariant broken: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
