#pragma once
// The connector's one RouteHandler: host check, preflight, route table, JSON error replies.
#include "http/http_types.hpp"

namespace connector {

class ConnectorService;

// A handler bound to service; every copy shares it.
RouteHandler makeRouteHandler(ConnectorService& service);

// The one service of the program: port 27843, bound to makeRouteHandler.
ConnectorService& connectorService();

}  // namespace connector
