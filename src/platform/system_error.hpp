#pragma once
// The system's own reason for a failure, as UTF-8 text a user can read. On Windows the standard
// library asks for the text in the ANSI code page (GBK on a Chinese system) with a line break at
// its end; this category asks for UTF-16 and converts it.
#include <system_error>

namespace connector {

// Codes of the OS (GetLastError values on Windows, errno values elsewhere).
const std::error_category& systemErrors() noexcept;

// The same failure in systemErrors() when it is a code of std::system_category(); anything
// else unchanged.
std::error_code readableError(std::error_code error) noexcept;

}  // namespace connector
