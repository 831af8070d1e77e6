#pragma once
// A minimal HTTP client over real loopback sockets for the server tests.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/http_types.hpp"
#include "http/server.hpp"

namespace connector::test {

enum class AfterSending {
  keepOpen,      // wait for the reply
  shutdownSend,  // half-close, then wait for the reply
  closeAtOnce,   // close without reading anything
};

// Connects to 127.0.0.1:port, sends request, and (unless closing at once) returns everything
// the server sends until it closes, or until nothing has come for patience (zero: no limit).
// Throws std::runtime_error when it cannot connect.
std::string exchange(std::string_view request, AfterSending after = AfterSending::keepOpen,
                     std::uint16_t port = kConnectorPort,
                     std::chrono::milliseconds patience = std::chrono::milliseconds(0));

// Whether anything accepts connections on 127.0.0.1:port.
bool canConnect(std::uint16_t port = kConnectorPort);

struct Reply {
  int status = 0;
  std::string reason;
  HeaderMap headers;
  std::string body;
};
// Splits a raw HTTP/1.1 reply; throws std::runtime_error when it is not one.
Reply parseReply(const std::string& raw);

// Stops a server when the test leaves its scope, however it leaves.
class StopOnExit {
 public:
  explicit StopOnExit(ConnectorServer& server) : server_(server) {}
  ~StopOnExit() { server_.stop(); }
  StopOnExit(const StopOnExit&) = delete;
  StopOnExit& operator=(const StopOnExit&) = delete;

 private:
  ConnectorServer& server_;
};

}  // namespace connector::test
