#pragma once
// The connector's one RouteHandler: host check, preflight, route table, JSON error replies.
#include "http/http_types.hpp"

namespace connector {

class ConnectorService;
class PairingRegistry;

// A handler bound to service; every copy shares it.
RouteHandler makeRouteHandler(ConnectorService& service);
// As above with a given pairing table (tests use their own, with an injected clock).
RouteHandler makeRouteHandler(ConnectorService& service, PairingRegistry& registry);

}  // namespace connector
