#pragma once
// Refuses requests addressed to the connector under a foreign host name (DNS rebinding: a web
// site whose name resolves to 127.0.0.1 would otherwise be treated as a same-origin page).
#include <cstdint>
#include <string_view>

namespace connector {

// True when a Host header value names this connector: 127.0.0.1, localhost or [::1] (any letter
// case), with no port or with exactly the given port.
bool isConnectorHost(std::string_view host, std::uint16_t port);

}  // namespace connector
