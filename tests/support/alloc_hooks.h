#pragma once

#include <cstddef>

// Test builds replace the global allocation functions to count live blocks and to make one chosen
// nothrow allocation fail, the only way the product's allocations can fail.
namespace alloc_hooks {

// Blocks allocated and not yet freed, by any form of operator new.
long LiveBlocks();

// Makes the `n`-th nothrow allocation from now (1-based) yield null; 0 disarms.
void FailNthNothrow(long n);

// Nothrow allocations made since the last FailNthNothrow call.
long NothrowCalls();

// Whether the armed failure has happened.
bool FailureHappened();

// Runs `action` once, right before the `n`-th nothrow allocation from now (1-based), which then goes on
// as usual: a way to change the world at a chosen point inside the code under test. 0 disarms.
void RunBeforeNthNothrow(long n, void (*action)());

// Whether the action armed by RunBeforeNthNothrow has yet to run.
bool ActionPending();

}  // namespace alloc_hooks
