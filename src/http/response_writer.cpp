#include "http/response_writer.hpp"

#include <algorithm>
#include <string_view>

namespace connector {
namespace {

// Sends bytes in pieces of at most kSendPiece, each piece continuing where the last send
// stopped; a failed send drops the rest.
void sendAll(ByteSink& sink, std::string_view bytes) {
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const std::size_t piece = std::min(kSendPiece, bytes.size() - offset);
    const long sent = sink.send(bytes.data() + offset, piece);
    if (sent <= 0) return;
    offset += static_cast<std::size_t>(sent);
  }
}

}  // namespace

std::string reasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 413:
      return "Payload Too Large";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Response";
  }
}

std::string responseHead(const HttpResponse& response) {
  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) + "\r\n";
  for (const auto& [name, value] : response.headers) {
    head.append(name).append(": ").append(value).append("\r\n");
  }
  head.append("\r\n");
  return head;
}

void writeContinue(ByteSink& sink) { sendAll(sink, "HTTP/1.1 100 Continue\r\n\r\n"); }

void writeResponse(ByteSink& sink, const HttpResponse& response) {
  sendAll(sink, responseHead(response));
  sendAll(sink, response.body);
  sendAll(sink, response.largeBody);
}

}  // namespace connector
