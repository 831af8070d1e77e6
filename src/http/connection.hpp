#pragma once
// One connection's cycle: read a request, call the handler, write the reply.
#include <functional>
#include <memory>

#include "http/byte_stream.hpp"
#include "http/http_types.hpp"
#include "http/request_deadline.hpp"
#include "http/socket.hpp"

namespace connector {

// The reply for the request read from source: the handler's answer, "Bad request" with 400 or
// 413 when the request cannot be read, or the INTERNAL_ERROR reply when the handler throws.
// Content-Length and "Connection: close" are always set here. A client that waits for leave to
// send its body is sent "100 Continue" on interim, when given. The request carries stepAside
// to the handler (see HttpRequest).
HttpResponse answerRequest(ByteSource& source, const RouteHandler& handler,
                           ByteSink* interim = nullptr, std::function<void()> stepAside = {});

// Reads, answers and writes one request; the caller closes the socket. Never throws: a failure
// costs only this connection. A TLS context (never present here) leaves it unanswered. A
// request not received within times is answered as one whose client closed early.
void handleConnection(StreamSocket& socket, const std::shared_ptr<void>& tlsContext,
                      const RouteHandler& handler, const RequestTimes& times,
                      std::function<void()> stepAside = {}) noexcept;

}  // namespace connector
