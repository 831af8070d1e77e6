#pragma once
// The process-wide service: the plain server, a secure slot that never runs here, and the
// locks the connector API shares between connection threads.
#include <cstdint>
#include <functional>
#include <mutex>

#include "http/server.hpp"

namespace connector {

class ConnectorService;
// Builds the RouteHandler bound to a service (the connector API's makeRouteHandler).
using RouteHandlerFactory = std::function<RouteHandler(ConnectorService&)>;

class ConnectorService {
 public:
  explicit ConnectorService(RouteHandlerFactory makeHandler, std::uint16_t port = kConnectorPort);
  ~ConnectorService();

  // Starts the plain server with the connector's RouteHandler; true when it runs afterwards.
  bool start();
  // Stops the secure server, then the plain one. Idempotent.
  void stop();

  ConnectorServer& plainServer() noexcept { return plain_; }
  ConnectorServer& secureServer() noexcept { return secure_; }
  std::mutex& stateLock() noexcept { return stateLock_; }
  std::mutex& conversionLock() noexcept { return conversionLock_; }

 private:
  RouteHandlerFactory makeHandler_;
  ConnectorServer plain_;
  ConnectorServer secure_;
  std::mutex stateLock_;
  std::mutex conversionLock_;
};

}  // namespace connector
