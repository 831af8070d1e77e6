#pragma once
// Serving an accepted connection on a thread of its own, which nobody waits for.
#include <memory>

#include "http/http_types.hpp"
#include "http/socket.hpp"

namespace connector {

// Starts handleConnection on a new detached thread. When no thread can be made it throws
// std::system_error, and the connection is closed unanswered.
void serveOnNewThread(std::unique_ptr<StreamSocket> socket, std::shared_ptr<void> tlsContext,
                      RouteHandler handler);

}  // namespace connector
