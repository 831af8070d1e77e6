#pragma once
// The reply builders every endpoint shares: JSON bodies, JSON errors and the pairing link.
#include <string>

#include "encoding/json.hpp"
#include "http/http_types.hpp"

namespace connector {

// The triple every JSON error reply is built from. A plain record, not an exception.
struct ApiError {
  int status = 500;
  std::string code;
  std::string message;
};

// status + compact JSON body, without cross-origin headers (for replies that must not have them).
HttpResponse plainJsonResponse(int status, JsonValue value);
// As plainJsonResponse, plus the cross-origin headers for origin.
HttpResponse jsonResponse(int status, JsonValue value, const std::string& origin);
// The object {"code","message"} as a JSON reply with cross-origin headers.
HttpResponse errorResponse(const ApiError& error, const std::string& origin);
// The {"code","message"} object of an error, for callers that add members.
JsonObject errorObject(const ApiError& error);
// Link of the pairing page for origin; the https one only for a request of the secure server.
std::string pairUrlFor(const HttpRequest& request, const std::string& origin);

}  // namespace connector
