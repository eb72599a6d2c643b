// Writes through a null pointer: its test passes only if the crash gives a failing exit code.
int main() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
