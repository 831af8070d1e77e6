#pragma once
// The short name of a running process, for telling the user who holds the port.
#include <string>

#include "platform/host.hpp"

namespace connector {

// Empty when the process is gone or the system does not tell.
std::string processName(ProcessId id);

}  // namespace connector
