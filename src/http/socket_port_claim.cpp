#include "http/socket_port_claim.hpp"

#include <utility>

namespace connector {
namespace {

bool failedToBind(ListenStatus status) {
  return status == ListenStatus::bindFailed || status == ListenStatus::bindRefused;
}

// With another socket listening there, a refusal is that socket's doing, not a reservation.
ListeningSocket::Opened inUse(ListeningSocket::Opened opened) {
  opened.status = ListenStatus::bindFailed;
  return opened;
}

}  // namespace

ListeningSocket::Opened claimPort(const PortClaimCalls& calls) {
  ListeningSocket::Opened exclusive = calls.open(PortSharing::exclusive);
  if (!failedToBind(exclusive.status)) return exclusive;

  // Windows refuses an exclusive bind for as long as connections that an earlier exclusive
  // listener accepted wait in TIME_WAIT, and ours close first, so every restart after serving
  // would fail for minutes. With no listener in the system's table, nobody is there to share
  // with: bind without the exclusive option. A port the system has reserved refuses that bind
  // too, and its refusal is what the start reports.
  if (calls.listeners() != std::size_t{0}) return inUse(std::move(exclusive));
  ListeningSocket::Opened plain = calls.open(PortSharing::plain);
  if (plain.status != ListenStatus::listening) return plain;

  // Someone who bound between the table's read and ours would share the port with us.
  const std::optional<std::size_t> after = calls.listeners();
  if (after && *after > 1) return inUse(std::move(exclusive));
  return plain;
}

}  // namespace connector
