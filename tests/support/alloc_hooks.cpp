#include "support/alloc_hooks.h"

#include <cstdlib>
#include <new>

namespace {

long live_blocks = 0;
long nothrow_calls = 0;
long fail_at = 0;
bool failure_happened = false;
long action_countdown = 0;
void (*pending_action)() = nullptr;

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (block) {
    ++live_blocks;
  }
  return block;
}

void* AllocateNothrow(std::size_t size) {
  if (pending_action && --action_countdown == 0) {
    void (*action)() = pending_action;
    pending_action = nullptr;
    action();
  }
  ++nothrow_calls;
  if (fail_at != 0 && nothrow_calls == fail_at) {
    failure_happened = true;
    return nullptr;
  }
  return Allocate(size);
}

void Free(void* block) {
  if (block) {
    --live_blocks;
    std::free(block);
  }
}

}  // namespace

namespace alloc_hooks {

long LiveBlocks() { return live_blocks; }

void FailNthNothrow(long n) {
  fail_at = n;
  nothrow_calls = 0;
  failure_happened = false;
}

long NothrowCalls() { return nothrow_calls; }

bool FailureHappened() { return failure_happened; }

void RunBeforeNthNothrow(long n, void (*action)()) {
  action_countdown = n;
  pending_action = n > 0 ? action : nullptr;
}

bool ActionPending() { return pending_action != nullptr; }

}  // namespace alloc_hooks

void* operator new(std::size_t size) {
  void* block = Allocate(size);
  if (!block) {
    throw std::bad_alloc();
  }
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateNothrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateNothrow(size); }
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
