// Writes through a null pointer. Its test expects a failing exit code: proof that a crashing test program
// fails its test under this harness instead of ending quietly with 0.
#include <cstdio>

int main() {
  std::puts("crash_probe: writing through a null pointer");
  std::fflush(stdout);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
