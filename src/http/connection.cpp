#include "http/connection.hpp"

#include <exception>
#include <string>

#include "encoding/json.hpp"
#include "http/request_parser.hpp"
#include "http/response_writer.hpp"

namespace connector {

HttpResponse answerRequest(ByteSource& source, const RouteHandler& handler, ByteSink* interim,
                           std::function<void()> stepAside) {
  HttpRequest request;
  int errorStatus = 400;
  HttpResponse response;
  ContinueSender sendContinue;
  if (interim) sendContinue = [interim] { writeContinue(*interim); };
  if (!parseRequest(source, request, errorStatus, sendContinue)) {
    response.status = errorStatus;
    response.body = "Bad request";
  } else {
    request.stepAside = std::move(stepAside);
    try {
      response = handler(request);
    } catch (const std::exception& error) {
      response = HttpResponse{};
      response.status = 500;
      response.headers["Content-Type"] = "application/json; charset=utf-8";
      response.body = R"({"code":"INTERNAL_ERROR","message":)";
      writeJsonString(response.body, error.what());
      response.body += '}';
    }
  }
  response.headers["Content-Length"] =
      std::to_string(response.body.size() + response.largeBody.size());
  response.headers["Connection"] = "close";
  return response;
}

void handleConnection(StreamSocket& socket, const std::shared_ptr<void>& tlsContext,
                      const RouteHandler& handler, const RequestTimes& times,
                      std::function<void()> stepAside) noexcept {
  if (tlsContext) return;
  try {
    RequestDeadline source(socket, times);
    writeResponse(socket, answerRequest(source, handler, &socket, std::move(stepAside)));
  } catch (...) {
    // Out of memory or a handler throwing something that is not a standard exception:
    // this connection is closed unanswered, the process and the other connections go on.
  }
}

}  // namespace connector
