#pragma once
// The cross-origin headers of every reply an endpoint makes for a page.
#include <string>

#include "http/http_types.hpp"

namespace connector {

// Echoes origin (when not empty) and names what a page may send: its method, its JSON body, a
// request from a public page to this private address.
void addCorsHeaders(HttpResponse& response, const std::string& origin);

}  // namespace connector
