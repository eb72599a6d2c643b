#pragma once

// The unit tests replace the global allocation functions (failing_allocations.cpp): they count live
// blocks, and can make the n-th nothrow allocation after ArmNothrow() fail (the only way the program's
// allocations fail) or run an action just before it (to change the registry inside a scan), or make the
// n-th throwing allocation after ArmThrowing() throw (as the merger's do). Zero disarms.
namespace failing_allocations {

extern long live_blocks, nothrow_calls, throwing_calls;

void ArmNothrow(long failAt, long actAt = 0, void (*act)() = nullptr);
void ArmThrowing(long failAt);

}  // namespace failing_allocations
