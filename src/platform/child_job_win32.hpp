#pragma once
// The job object that holds a child and everything it starts (Windows only).
#include <cstdint>
#include <optional>

#include "platform/win32.hpp"

namespace connector {

// A job that ends every process in it when its last handle closes, so that nothing the child
// starts outlives the run, whichever way the runner leaves; a process in it that crashes ends at
// once (no error-report dialog holds it), and one that explicitly asks to leave it may (an
// updater). Empty when the system refuses.
UniqueHandle createChildJob();

// How many processes of the job have not yet fully ended; nullopt when the system cannot tell.
std::optional<std::uint32_t> activeProcesses(HANDLE job);

}  // namespace connector
