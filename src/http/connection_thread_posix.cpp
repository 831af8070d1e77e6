#include <thread>
#include <utility>

#include "http/connection.hpp"
#include "http/connection_thread.hpp"

namespace connector {

void serveOnNewThread(std::unique_ptr<StreamSocket> socket, std::shared_ptr<void> tlsContext,
                      RouteHandler handler) {
  std::thread(handleConnection, std::move(socket), std::move(tlsContext), std::move(handler)).detach();
}

}  // namespace connector
