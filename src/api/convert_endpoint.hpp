#pragma once
#include <string>

#include "http/http_types.hpp"

namespace connector {

class ConnectorService;

// POST /v1/convert: allow-list check, Spine look-up, then one conversion at a time; the ZIP
// archive comes back with its download name and the editor version in headers.
HttpResponse convertResponse(ConnectorService& service, const HttpRequest& request,
                             const std::string& origin);

}  // namespace connector
