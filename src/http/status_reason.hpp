#pragma once
#include <string>

namespace connector {

// Why the service is not running, or why the last port takeover failed (UTF-8).
// Touched only by the thread that starts and stops the service (the window's thread).
std::string& statusReason();

}  // namespace connector
