#pragma once
// Runs code on a thread with a small stack, so that stack use that grows with the input shows on
// input of test size, long before a request finds it on a connection thread.
#include <cstddef>
#include <functional>

namespace connector::test {

// What every parser and matcher must get by with, whatever its input.
inline constexpr std::size_t kSmallStackBytes = 256 * 1024;

// Runs body on a new thread that has stackBytes of stack, waits for it and rethrows what it
// threw. A stack overflow ends the process (under Wine, the thread: that is reported as an
// error), which is the test's failure.
void runOnSmallStack(const std::function<void()>& body, std::size_t stackBytes = kSmallStackBytes);

// The same, and returns how much of the stack body used at most, in bytes: the free stack is
// filled with a pattern before body runs, and afterwards the deepest byte that changed is found.
std::size_t stackUsedBy(const std::function<void()>& body,
                        std::size_t stackBytes = kSmallStackBytes);

// The per-OS part: runs entry(argument) on a new thread with that much stack and joins it;
// throws std::system_error when no such thread can be made.
void runOnThreadWithStack(void (*entry)(void*), void* argument, std::size_t stackBytes);

}  // namespace connector::test
