#pragma once
// Environment variables as UTF-8, read from the OS on every call (never cached).
#include <string>
#include <string_view>

namespace connector {

// The value, or "" when unset. Text that is not valid Unicode is repaired with U+FFFD.
std::string readEnvironment(std::string_view name);
// As readEnvironment, but a value that is not valid UTF-8 (UTF-16 on Windows) raises
// std::runtime_error.
std::string readEnvironmentStrict(std::string_view name);
// Sets (or, for unsetEnvironment, removes) a variable of this process; children inherit it.
void setEnvironment(std::string_view name, std::string_view value);
void unsetEnvironment(std::string_view name);

}  // namespace connector
