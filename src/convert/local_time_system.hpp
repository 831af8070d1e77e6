#pragma once
// The one system call behind currentLocalTime, in local_time_posix.cpp and local_time_win32.cpp.
#include <ctime>

namespace connector {

// Splits `when` into this computer's local calendar fields; false if the system cannot. Safe
// across threads (never the shared buffer of std::localtime).
bool splitLocalTime(std::time_t when, std::tm& parts) noexcept;

}  // namespace connector
