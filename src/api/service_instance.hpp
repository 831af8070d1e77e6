#pragma once
// The program's one service.
#include "api/service.hpp"

namespace connector {

// Port 27843, bound to makeRouteHandler; made on first use.
ConnectorService& connectorService();

}  // namespace connector
