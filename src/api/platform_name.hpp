#pragma once
// The "platform" the health report names (the Node.js process.platform spelling).

namespace connector {

const char* platformName() noexcept;

}  // namespace connector
