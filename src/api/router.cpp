#include "api/router.hpp"

#include <exception>
#include <string>

#include "api/api_replies.hpp"
#include "api/convert_endpoint.hpp"
#include "api/cors_headers.hpp"
#include "api/health.hpp"
#include "api/host_check.hpp"
#include "api/pairing_pages.hpp"
#include "api/pairing_registry.hpp"
#include "api/service.hpp"

namespace connector {

namespace {

HttpResponse route(ConnectorService& service, PairingRegistry& registry, const HttpRequest& request,
                   const std::string& origin) {
  const std::string& method = request.method;
  const std::string& path = request.path;
  if (method == "GET" && path == "/v1/health") return healthResponse(service, request, origin);
  if (method == "GET" && path == "/pair") return pairingPageResponse(registry, request);
  if (method == "POST" && path == "/pair")
    return pairingConfirmResponse(registry, service, request);
  if (method == "POST" && path == "/v1/convert") return convertResponse(service, request, origin);
  return errorResponse({404, "NOT_FOUND", "接口不存在"}, origin);
}

// Which port this request was received on, for the Host check.
std::uint16_t receivingPort(ConnectorService& service, const HttpRequest& request) {
  return request.secure ? service.secureServer().port() : service.plainServer().port();
}

// One request through host check, preflight, route table and the endpoints' error catch.
HttpResponse dispatchRequest(ConnectorService& service, PairingRegistry& registry,
                             const HttpRequest& request) {
  auto originHeader = request.headers.find("origin");
  const std::string origin =
      originHeader == request.headers.end() ? std::string() : originHeader->second;

  // Before anything else, preflights included: a page that reached us under a foreign host name
  // (DNS rebinding) must learn nothing and be able to do nothing.
  auto host = request.headers.find("host");
  if (host != request.headers.end() &&
      !isConnectorHost(host->second, receivingPort(service, request))) {
    return plainJsonResponse(403,
                             errorObject({403, "HOST_NOT_ALLOWED", "不允许通过此地址访问连接器"}));
  }

  if (request.method == "OPTIONS") {
    HttpResponse preflight;
    preflight.status = 204;
    addCorsHeaders(preflight, origin);
    return preflight;
  }

  try {
    return route(service, registry, request, origin);
  } catch (const std::exception& failure) {
    return errorResponse({500, "CONVERSION_FAILED", failure.what()}, origin);
  }
}

}  // namespace

RouteHandler makeRouteHandler(ConnectorService& service, PairingRegistry& registry) {
  return [service = &service, registry = &registry](const HttpRequest& request) {
    return dispatchRequest(*service, *registry, request);
  };
}

RouteHandler makeRouteHandler(ConnectorService& service) {
  return makeRouteHandler(service, pairingRegistry());
}

}  // namespace connector
