#pragma once
// The process-wide service: the plain server, a secure slot that never runs here, and the
// locks the connector API shares between connection threads.
#include <cstdint>
#include <mutex>

#include "http/server.hpp"

namespace connector {

class ConnectorService {
 public:
  explicit ConnectorService(std::uint16_t port = kConnectorPort);
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
  ConnectorServer plain_;
  ConnectorServer secure_;
  std::mutex stateLock_;
  std::mutex conversionLock_;
};

// The one service of the program, listening on 27843.
ConnectorService& connectorService();

}  // namespace connector
