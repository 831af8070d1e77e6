#pragma once
// One HTTP/1.1 listener on 127.0.0.1: one request per connection, one thread per connection.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "http/http_types.hpp"

namespace connector {

inline constexpr std::uint16_t kConnectorPort = 27843;
inline constexpr std::uint16_t kSecurePort = 27844;

class ListeningSocket;  // platform socket, see http/socket.hpp

class ConnectorServer {
 public:
  explicit ConnectorServer(std::uint16_t port = kConnectorPort);
  ~ConnectorServer();
  ConnectorServer(const ConnectorServer&) = delete;
  ConnectorServer& operator=(const ConnectorServer&) = delete;

  // Binds and starts the accept thread. On failure returns false and sets statusReason().
  // Non-empty tlsSettings are refused: there is no secure listener on this platform.
  bool start(RouteHandler handler, const std::wstring& tlsSettings = {});
  void stop();
  bool isRunning() const noexcept { return running_.load(); }
  std::uint16_t port() const noexcept { return port_; }

 private:
  void acceptLoop();

  std::uint16_t port_;
  std::atomic<bool> running_{false};
  std::unique_ptr<ListeningSocket> listener_;
  std::shared_ptr<void> tlsContext_;  // always empty here
  RouteHandler handler_;
  std::unique_ptr<std::thread> acceptThread_;
};

}  // namespace connector
