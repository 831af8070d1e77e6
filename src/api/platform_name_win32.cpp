#include "api/platform_name.hpp"

namespace connector {

const char* platformName() noexcept { return "win32"; }

}  // namespace connector
