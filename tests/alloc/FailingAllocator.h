#pragma once

// Makes allocations fail on purpose: this test program replaces the global operator new, so
// every allocation of the code under test (the plug-in's objects are linked in) can be made
// to fail in turn, as it would when the engine's process runs out of memory.

namespace AllocTest {

/// On this thread, the next count allocations succeed and the one after fails (operator new
/// throws std::bad_alloc; its nothrow forms return null). Allocations of other threads and
/// of over-aligned types are never failed.
void failAfter(long count);
/// Stops failing; returns whether the planned failure happened.
bool disarm();
/// Counts this thread's allocations from here on, failing none, until disarm.
void startCounting();
/// The allocations counted since startCounting.
long counted();

} // namespace AllocTest
