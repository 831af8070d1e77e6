#pragma once
// The process-wide service: the plain server, a secure slot that never runs here, the locks
// the connector API shares between connection threads, and the stop signal of its conversions.
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>

#include "http/server.hpp"

namespace connector {

class ConnectorService;
// Builds the RouteHandler bound to a service (the connector API's makeRouteHandler).
using RouteHandlerFactory = std::function<RouteHandler(ConnectorService&)>;

class ConnectorService {
 public:
  explicit ConnectorService(RouteHandlerFactory makeHandler, std::uint16_t port = kConnectorPort,
                            ServerLimits limits = {});
  // Stops, and waits for every connection thread: none outlives the locks it may hold.
  ~ConnectorService();

  // Starts the plain server with the connector's RouteHandler; true when it runs afterwards.
  bool start();
  // Requests stopToken()'s stop, then stops the secure server and the plain one, which waits
  // (bounded) for the connections still served, and returns once no conversion is under way (a
  // conversion watches the stop, so that is soon): its workspace is gone by then. Idempotent.
  void stop();

  // Stop is requested when the service stops: a conversion watching it ends its Spine run.
  // Every start makes a fresh one. Safe from any thread.
  std::stop_token stopToken() const;

  ConnectorServer& plainServer() noexcept { return plain_; }
  ConnectorServer& secureServer() noexcept { return secure_; }
  std::mutex& stateLock() noexcept { return stateLock_; }
  std::mutex& conversionLock() noexcept { return conversionLock_; }

 private:
  RouteHandlerFactory makeHandler_;
  std::mutex stateLock_;
  std::mutex conversionLock_;
  mutable std::mutex stopLock_;  // guards stopSource_
  std::stop_source stopSource_;
  // Declared last so they are destroyed first: their connection threads end before the locks.
  // The plain server goes first of all, since its health requests ask whether the secure one runs.
  ConnectorServer secure_;
  ConnectorServer plain_;
};

}  // namespace connector
