#pragma once
#include <string>

#include "http/http_types.hpp"

namespace connector {

class ConnectorService;

// GET /v1/health: version, authorization of origin, Spine presence, supported versions.
HttpResponse healthResponse(ConnectorService& service, const HttpRequest& request,
                            const std::string& origin);

}  // namespace connector
