#include "http/socket_port_claim.hpp"

#include <utility>

namespace connector {

ListeningSocket::Opened claimPort(const PortClaimCalls& calls) {
  ListeningSocket::Opened exclusive = calls.open(PortSharing::exclusive);
  if (exclusive.status != ListenStatus::bindFailed) return exclusive;

  // Windows refuses an exclusive bind for as long as connections that an earlier exclusive
  // listener accepted wait in TIME_WAIT, and ours close first, so every restart after serving
  // would fail for minutes. With no listener in the system's table, nobody is there to share
  // with: bind without the exclusive option.
  if (calls.listeners() != std::size_t{0}) return exclusive;
  ListeningSocket::Opened reusing = calls.open(PortSharing::reuseAddress);
  if (reusing.status != ListenStatus::listening) return reusing;

  // Someone who bound between the table's read and ours would share the port with us.
  const std::optional<std::size_t> after = calls.listeners();
  if (after && *after > 1) return exclusive;
  return reusing;
}

}  // namespace connector
