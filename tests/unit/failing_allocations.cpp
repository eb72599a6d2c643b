#include "tests/unit/failing_allocations.h"

#include <cstdlib>
#include <new>

namespace {

long nothrow_fail_at = 0, act_at = 0, throwing_fail_at = 0;
void (*action)() = nullptr;

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  failing_allocations::live_blocks += block != nullptr;
  return block;
}

}  // namespace

long failing_allocations::live_blocks = 0, failing_allocations::nothrow_calls = 0,
     failing_allocations::throwing_calls = 0;

void failing_allocations::ArmNothrow(long failAt, long actAt, void (*act)()) {
  nothrow_fail_at = failAt;
  act_at = actAt;
  action = act;
  nothrow_calls = 0;
}

void failing_allocations::ArmThrowing(long failAt) {
  throwing_fail_at = failAt;
  throwing_calls = 0;
}

// The array and sized forms are defined in terms of these.
void* operator new(std::size_t size) {
  void* block = ++failing_allocations::throwing_calls == throwing_fail_at ? nullptr : Allocate(size);
  return block ? block : throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (++failing_allocations::nothrow_calls == act_at) {
    action();
  }
  return failing_allocations::nothrow_calls == nothrow_fail_at ? nullptr : Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, nothrow);
}
void operator delete(void* block) noexcept {
  failing_allocations::live_blocks -= block != nullptr;
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  operator delete(block);
}
