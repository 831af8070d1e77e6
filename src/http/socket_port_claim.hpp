#pragma once
// How a start claims its port: exclusively, or, when the system refuses that although nobody
// listens there, without the exclusive option.
#include <cstddef>
#include <functional>
#include <optional>

#include "http/socket.hpp"

namespace connector {

struct PortClaimCalls {
  // Binds 127.0.0.1 on the port and listens, sharing the port as asked.
  std::function<ListeningSocket::Opened(PortSharing sharing)> open;
  // How many sockets the system's table shows listening on the port; no value when unknown.
  std::function<std::optional<std::size_t>()> listeners;
};

// The listener for a start. A port that another socket listens on is never shared: the
// refusal of the exclusive bind then stands, as bindFailed. bindRefused only when the table
// showed no listener.
ListeningSocket::Opened claimPort(const PortClaimCalls& calls);

}  // namespace connector
