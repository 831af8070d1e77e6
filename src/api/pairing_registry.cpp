#include "api/pairing_registry.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

namespace connector {

PairingRegistry::PairingRegistry(Clock now) : now_(std::move(now)) {}

void PairingRegistry::remove(Order::iterator entry) {
  std::vector<Order::iterator>& ofOrigin = entry->origin->second;
  ofOrigin.erase(std::find(ofOrigin.begin(), ofOrigin.end(), entry));  // at most kMaxPerOrigin
  bytes_ -= bytesOf(entry->nonce, entry->origin->first);
  if (ofOrigin.empty()) origins_.erase(entry->origin);
  byNonce_.erase(entry->nonce);
  order_.erase(entry);
}

void PairingRegistry::add(const std::string& nonce, const std::string& origin) {
  std::lock_guard lock(lock_);
  const auto now = now_();
  if (auto same = byNonce_.find(nonce); same != byNonce_.end()) remove(same->second);
  // Oldest first is soonest to expire first: stop at the first one still alive.
  while (!order_.empty()) {
    ++visited_;
    if (!(order_.front().expiresAt < now)) break;
    remove(order_.begin());
  }
  auto slot = origins_.find(origin);
  if (slot != origins_.end() && slot->second.size() >= kMaxPerOrigin) {
    ++visited_;
    remove(slot->second.front());
    slot = origins_.find(origin);  // the removal may have erased it
  }
  const std::size_t bytes = bytesOf(nonce, origin);
  while (!order_.empty() && (order_.size() >= kMaxEntries || bytes_ + bytes > kMaxBytes)) {
    if (slot != origins_.end() && order_.front().origin == slot && slot->second.size() == 1) {
      slot = origins_.end();  // its last entry is going
    }
    ++visited_;
    remove(order_.begin());
  }
  if (slot == origins_.end()) slot = origins_.emplace(origin, std::vector<Order::iterator>()).first;
  order_.push_back(Entry{nonce, slot, now + kLifetime});
  const auto entry = std::prev(order_.end());
  slot->second.push_back(entry);
  byNonce_.emplace(nonce, entry);
  bytes_ += bytes;
}

std::optional<std::string> PairingRegistry::take(const std::string& nonce) {
  PendingPairing entry;
  {
    std::lock_guard lock(lock_);
    auto found = byNonce_.find(nonce);
    if (found == byNonce_.end()) return std::nullopt;
    entry = PendingPairing{found->second->origin->first, found->second->expiresAt};
    remove(found->second);
  }
  if (entry.expiresAt < now_()) return std::nullopt;
  return std::move(entry.origin);
}

std::size_t PairingRegistry::size() const {
  std::lock_guard lock(lock_);
  return order_.size();
}

std::uint64_t PairingRegistry::entriesVisited() const {
  std::lock_guard lock(lock_);
  return visited_;
}

PairingRegistry& pairingRegistry() {
  static PairingRegistry registry;
  return registry;
}

}  // namespace connector
