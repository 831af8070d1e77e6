#include <cstdint>
#include <system_error>

#include "platform/win32.hpp"
#include "support/small_stack.hpp"

namespace connector::test {
namespace {

struct Start {
  void (*entry)(void*);
  void* argument;
  std::size_t stackBytes;
};

// Wine gives every thread at least 1 MiB whatever it is asked for, so the stack beyond what was
// asked is taken here before the entry runs: the code under test has the same room as on Windows.
void takeExcessStack(const Start& start) {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  const auto here = reinterpret_cast<std::uintptr_t>(&low);
  const std::uintptr_t ownFrames = high - here;
  const std::uintptr_t room = here - low;
  if (start.stackBytes > ownFrames && room > start.stackBytes - ownFrames) {
    volatile char* taken =
        static_cast<char*>(__builtin_alloca(room - (start.stackBytes - ownFrames)));
    taken[0] = 0;
    start.entry(start.argument);
    return;
  }
  start.entry(start.argument);
}

DWORD WINAPI startThread(void* argument) {
  takeExcessStack(*static_cast<Start*>(argument));
  return 0;
}

}  // namespace

void runOnThreadWithStack(void (*entry)(void*), void* argument, std::size_t stackBytes) {
  Start start{entry, argument, stackBytes};
  const UniqueHandle thread(CreateThread(nullptr, stackBytes, startThread, &start,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  if (!thread) {
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                            "CreateThread");
  }
  WaitForSingleObject(thread.get(), INFINITE);
}

}  // namespace connector::test
