#include "platform/system_error.hpp"

namespace connector {

// strerror's text is already what the user's locale reads.
const std::error_category& systemErrors() noexcept { return std::system_category(); }

std::error_code readableError(std::error_code error) noexcept { return error; }

}  // namespace connector
