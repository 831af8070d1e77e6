#pragma once
// Pairing: the confirmation page with a one-time nonce, and its confirmation that stores the origin.
#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "http/http_types.hpp"

namespace connector {

class ConnectorService;

struct PendingPairing {
  std::string origin;
  std::chrono::steady_clock::time_point expiresAt;
};

// Pairings offered but not yet confirmed, keyed by nonce. Guarded by its own lock, which is
// never held together with the service's state lock.
class PairingRegistry {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::nanoseconds kLifetime{300'000'000'000};

  // The clock is injectable so tests can step past the lifetime without waiting.
  explicit PairingRegistry(Clock now = [] { return std::chrono::steady_clock::now(); });

  // Stores (or replaces) nonce for origin, expiring kLifetime from now. Entries already past
  // their expiry are dropped first, so unconfirmed pairings cannot pile up without bound.
  void add(const std::string& nonce, const std::string& origin);
  // Removes the nonce and returns its origin, unless it is unknown or expired. An entry confirmed
  // exactly at its expiry is still accepted.
  std::optional<std::string> take(const std::string& nonce);
  std::size_t size() const;

 private:
  Clock now_;
  mutable std::mutex lock_;
  std::map<std::string, PendingPairing, std::less<>> pending_;
};

// The registry of the running program.
PairingRegistry& pairingRegistry();

// The page frame of every pairing reply: HTML, not cached, never shown inside a frame.
HttpResponse htmlPage(int status, const std::string& innerHtml);

// GET /pair?origin=...
HttpResponse pairingPageResponse(PairingRegistry& registry, const HttpRequest& request);
// POST /pair with the form field nonce.
HttpResponse pairingConfirmResponse(PairingRegistry& registry, ConnectorService& service,
                                    const HttpRequest& request);

}  // namespace connector
