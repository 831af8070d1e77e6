#pragma once
// What the system's own table says about listeners on a port, independent of any bind.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace connector {

// How many IPv4 sockets listen on port, on any local address and of any process; no value
// when the system's table cannot be read here.
std::optional<std::size_t> listenersOnPort(std::uint16_t port);

}  // namespace connector
