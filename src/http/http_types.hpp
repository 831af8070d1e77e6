#pragma once
// The request and response records shared by the server and the connector API.
#include <functional>
#include <map>
#include <string>

#include "platform/byte_buffer.hpp"

namespace connector {

using HeaderMap = std::map<std::string, std::string, std::less<>>;

struct HttpRequest {
  std::string method;
  std::string target;
  std::string path;
  std::map<std::string, std::string, std::less<>> query;
  HeaderMap headers;  // names trimmed and lower-cased
  ByteBuffer body;
  bool secure = false;
  // Set by the server: a handler about to block on other requests' work (a conversion waiting
  // for its turn) calls it, and the connection then leaves its slot to clients that are not
  // waiting, while the server has room for waiting ones. Empty outside a server; harmless twice.
  std::function<void()> stepAside;
};

struct HttpResponse {
  int status = 200;
  HeaderMap headers;  // exact names, written in ascending byte order
  std::string body;
  // A large body made elsewhere (a conversion's archive), sent after body as it is, without a copy.
  ByteBuffer largeBody{};
};

using RouteHandler = std::function<HttpResponse(const HttpRequest&)>;

}  // namespace connector
