#include "http/response_writer.hpp"

#include <algorithm>
#include <string_view>

namespace connector {
namespace {

// A body this small goes out in one send with the head: one segment on the wire and one system
// call fewer for every health or pairing reply.
constexpr std::size_t kJoinedBody = 16384;

// Sends bytes in pieces of at most kSendPiece, each piece continuing where the last send
// stopped; a failed send drops the rest. Returns the bytes sent.
std::size_t sendAll(ByteSink& sink, std::string_view bytes) {
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const std::size_t piece = std::min(kSendPiece, bytes.size() - offset);
    const long sent = sink.send(bytes.data() + offset, piece);
    if (sent <= 0) break;
    offset += static_cast<std::size_t>(sent);
  }
  return offset;
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
  std::string head = responseHead(response);
  const std::size_t headSize = head.size();
  if (response.body.size() <= kJoinedBody) {
    head.append(response.body);
    // The body is attempted even when the head was cut short, as when it goes on its own.
    if (sendAll(sink, head) < headSize) sendAll(sink, response.body);
  } else {
    sendAll(sink, head);
    sendAll(sink, response.body);
  }
  sendAll(sink, response.largeBody);
}

}  // namespace connector
