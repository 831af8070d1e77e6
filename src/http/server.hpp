#pragma once
// One HTTP/1.1 listener on 127.0.0.1: one request per connection, accepted and served by a pool
// of reused threads with a fixed number of slots.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "http/http_types.hpp"
#include "http/server_limits.hpp"
#include "http/socket.hpp"
#include "platform/worker_thread.hpp"

namespace connector {

inline constexpr std::uint16_t kConnectorPort = 27843;
inline constexpr std::uint16_t kSecurePort = 27844;

class ConnectionPool;

// Opens the listening socket; replaceable so tests can make accept fail.
using ListenerOpener =
    std::function<ListeningSocket::Opened(std::uint16_t port, int backlog, PortSharing sharing)>;

class ConnectorServer {
 public:
  explicit ConnectorServer(std::uint16_t port = kConnectorPort, ServerLimits limits = {},
                           ListenerOpener openListener = &ListeningSocket::open,
                           ThreadStarter startThread = startWorkerThread);
  // Stops, then waits for every connection thread, however long their handlers take.
  ~ConnectorServer();
  ConnectorServer(const ConnectorServer&) = delete;
  ConnectorServer& operator=(const ConnectorServer&) = delete;

  // Binds and starts accepting. On failure returns false and sets statusReason(); throws
  // std::system_error (nothing started) when no thread can be made.
  // Non-empty tlsSettings are refused: there is no secure listener on this platform.
  bool start(RouteHandler handler, const std::wstring& tlsSettings = {});
  // Stops accepting, cancels the clients being served and waits for their connections to end,
  // at most limits.stopWait. A handler that is running finishes and its reply is still sent.
  void stop();
  bool isRunning() const noexcept { return running_.load(); }
  std::uint16_t port() const noexcept { return port_; }

 private:
  std::uint16_t port_;
  ServerLimits limits_;
  ListenerOpener openListener_;
  std::atomic<bool> running_{false};
  std::unique_ptr<ListeningSocket> listener_;
  std::shared_ptr<void> tlsContext_;  // always empty here
  std::unique_ptr<ConnectionPool> pool_;
};

}  // namespace connector
