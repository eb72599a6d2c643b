#pragma once

#include <windows.h>

// The fastest of a few rounds of `operation`, in milliseconds: the figure least disturbed by the rest of
// the machine.
template <typename Operation>
double FastestMilliseconds(Operation operation) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  double fastest = 0;
  for (int round = 0; round < 3; ++round) {
    QueryPerformanceCounter(&start);
    operation();
    QueryPerformanceCounter(&end);
    const double elapsed = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    fastest = round == 0 || elapsed < fastest ? elapsed : fastest;
  }
  return fastest;
}
