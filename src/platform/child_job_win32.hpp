#pragma once
// The job object that holds a child and everything it starts (Windows only).
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/win32.hpp"

namespace connector {

// A job that ends every process in it when its last handle closes, so that nothing the child
// starts outlives the run, whichever way the runner leaves; a process in it that crashes ends at
// once (no error-report dialog holds it), and one that explicitly asks to leave it may (an
// updater). Empty when the system refuses.
UniqueHandle createChildJob();

// The ids of the processes the job still lists; nullopt when the system cannot tell. A process
// may stay listed for a moment after its end, while something still holds it.
std::optional<std::vector<std::uint32_t>> jobProcessIds(HANDLE job);

// Waits at most `limit` for the job's process with this id to end. True once it has ended, or
// when the id names no process of the job any more (it is gone, or a later program took the id);
// false when it still runs, or cannot be opened to wait on.
bool waitForJobProcess(HANDLE job, std::uint32_t id, std::chrono::milliseconds limit);

}  // namespace connector
