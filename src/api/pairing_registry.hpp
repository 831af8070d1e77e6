#pragma once
// The table of pairings offered but not yet confirmed: one-time nonces, their origins and expiry.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace connector {

struct PendingPairing {
  std::string origin;
  std::chrono::steady_clock::time_point expiresAt;
};

// Pairings offered but not yet confirmed, keyed by nonce. Guarded by its own lock, which is
// never held together with the service's state lock.
//
// Any web page can make offers without limit, so the table is bounded: per origin and in total
// (entries and origin bytes), the oldest offer giving way to the new one, so a fresh link always
// works; an evicted nonce confirms as expired. Offers live a fixed time on a monotonic clock, so
// the order of offering is the order of expiry: expired entries are dropped from the old end,
// each visited once, and no add scans the table.
class PairingRegistry {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::nanoseconds kLifetime{300'000'000'000};
  // A person opens a few links per origin; a flood from one origin only ever evicts its own.
  static constexpr std::size_t kMaxPerOrigin = 16;
  static constexpr std::size_t kMaxEntries = 16'384;
  // Origins are limited only by the request head (64 KiB), so bytes are bounded too.
  static constexpr std::size_t kMaxBytes = 16 * 1'048'576;

  // The clock is injectable so tests can step past the lifetime without waiting.
  explicit PairingRegistry(Clock now = [] { return std::chrono::steady_clock::now(); });

  // Stores (or replaces) nonce for origin, expiring kLifetime from now, after dropping expired
  // entries and evicting the oldest beyond the bounds.
  void add(const std::string& nonce, const std::string& origin);
  // Removes the nonce and returns its origin, unless it is unknown or expired. An entry confirmed
  // exactly at its expiry is still accepted.
  std::optional<std::string> take(const std::string& nonce);
  std::size_t size() const;
  // Entries that add has looked at besides its own, so far: each one it dropped (expired or
  // evicted) and the first live one that ended its sweep. This is all of add's work that grows
  // with the table.
  std::uint64_t entriesVisited() const;

 private:
  struct Entry;
  using Order = std::list<Entry>;
  // Per origin, its entries oldest first (at most kMaxPerOrigin). An ordered map: origins come
  // from the requests, and a hash table keyed by them could be flooded into one bucket.
  using Origins = std::map<std::string, std::vector<Order::iterator>, std::less<>>;
  struct Entry {
    std::string nonce;
    Origins::iterator origin;
    std::chrono::steady_clock::time_point expiresAt;
  };

  // Unlinks one entry everywhere; the caller holds the lock.
  void remove(Order::iterator entry);
  static std::size_t bytesOf(const std::string& nonce, const std::string& origin) {
    return nonce.size() + origin.size();
  }

  Clock now_;
  mutable std::mutex lock_;
  Order order_;  // oldest (first to expire) first
  // Nonces are our own random tokens, so hashing them is safe.
  std::unordered_map<std::string, Order::iterator> byNonce_;
  Origins origins_;
  std::size_t bytes_ = 0;
  std::uint64_t visited_ = 0;
};

// The registry of the running program.
PairingRegistry& pairingRegistry();

}  // namespace connector
