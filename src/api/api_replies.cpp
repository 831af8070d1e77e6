#include "api/api_replies.hpp"

#include <utility>

#include "api/cors_headers.hpp"
#include "encoding/url_html.hpp"
#include "http/server.hpp"

namespace connector {

HttpResponse plainJsonResponse(int status, JsonValue value) {
  HttpResponse response;
  response.status = status;
  response.headers["Content-Type"] = "application/json; charset=utf-8";
  response.body = toJsonText(value, -1);
  return response;
}

HttpResponse jsonResponse(int status, JsonValue value, const std::string& origin) {
  HttpResponse response = plainJsonResponse(status, std::move(value));
  addCorsHeaders(response, origin);
  return response;
}

JsonObject errorObject(const ApiError& error) {
  JsonObject object;
  object["code"] = error.code;
  object["message"] = error.message;
  return object;
}

HttpResponse errorResponse(const ApiError& error, const std::string& origin) {
  return jsonResponse(error.status, errorObject(error), origin);
}

std::string pairUrlFor(const HttpRequest& request, const std::string& origin) {
  std::string url = request.secure ? "https://127.0.0.1:" + std::to_string(kSecurePort)
                                   : "http://127.0.0.1:" + std::to_string(kConnectorPort);
  url += "/pair?origin=";
  url += urlEncode(origin);
  return url;
}

}  // namespace connector
