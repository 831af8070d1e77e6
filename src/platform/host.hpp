#pragma once
// The small facts of the host system that the layers above ask for, one implementation per OS.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace connector {

using ProcessId = std::uint32_t;

// The "platform" the health report names (the Node.js process.platform spelling).
const char* platformName() noexcept;

// The OS's own idea of the home folder when the Windows-style variables are unset: HOME on
// POSIX, where USERPROFILE is normally absent; nothing on Windows. UTF-8, "" when unknown.
std::string homeFallback();

// Splits `when` into this computer's local calendar fields; false if the system cannot. Safe
// across threads (never the shared buffer of std::localtime).
bool splitLocalTime(std::time_t when, std::tm& parts) noexcept;

// One row per IPv4 socket listening on port, on any local address: the process that owns it, or
// 0 when the system does not say (Wine, or a process whose descriptors we may not read). No
// value when the system's table cannot be read.
std::optional<std::vector<ProcessId>> ipv4ListenersOn(std::uint16_t port);

}  // namespace connector
