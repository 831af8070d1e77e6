#pragma once
// Writes an HttpResponse as HTTP/1.1: status line, headers in ascending name order, body.
#include <cstddef>
#include <string>

#include "http/byte_stream.hpp"
#include "http/http_types.hpp"

namespace connector {

inline constexpr std::size_t kSendPiece = 1048576;  // at most 1 MiB per send call

std::string reasonPhrase(int status);
// The status line and header block, ending with the blank line.
std::string responseHead(const HttpResponse& response);
// Sends the interim "HTTP/1.1 100 Continue" that a client waiting to send its body asked for.
void writeContinue(ByteSink& sink);
// Sends the head, then the body and the large body (even if the head was cut short by a failed
// send).
void writeResponse(ByteSink& sink, const HttpResponse& response);

}  // namespace connector
