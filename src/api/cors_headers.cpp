#include "api/cors_headers.hpp"

namespace connector {

void addCorsHeaders(HttpResponse& response, const std::string& origin) {
  // The origin is echoed as received: whether the caller may act is the endpoints' decision.
  if (!origin.empty()) response.headers["Access-Control-Allow-Origin"] = origin;
  response.headers["Vary"] = "Origin";
  response.headers["Access-Control-Allow-Private-Network"] = "true";
  response.headers["Access-Control-Allow-Headers"] = "Content-Type";
  response.headers["Access-Control-Allow-Methods"] = "GET, POST, OPTIONS";
}

}  // namespace connector
