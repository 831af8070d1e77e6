#pragma once

namespace connector {

// How a listener treats other sockets that want the same port.
enum class PortSharing {
  exclusive,     // nobody may bind beside us (Windows: SO_EXCLUSIVEADDRUSE; POSIX: SO_REUSEADDR)
  reuseAddress,  // plain SO_REUSEADDR on every platform
};

}  // namespace connector
