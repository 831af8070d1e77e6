#include "api/service.hpp"

#include <utility>

namespace connector {

ConnectorService::ConnectorService(RouteHandlerFactory makeHandler, std::uint16_t port,
                                   ServerLimits limits)
    : makeHandler_(std::move(makeHandler)), secure_(kSecurePort, limits), plain_(port, limits) {}

ConnectorService::~ConnectorService() { stop(); }

bool ConnectorService::start() {
  if (plain_.isRunning()) return true;
  {
    // A stop_source cannot be reset: each run gets its own.
    const std::lock_guard guard(stopLock_);
    stopSource_ = std::stop_source();
  }
  return plain_.start(makeHandler_(*this));
}

void ConnectorService::stop() {
  {
    const std::lock_guard guard(stopLock_);
    stopSource_.request_stop();
  }
  secure_.stop();
  plain_.stop();
  // The conversion under way has been told to stop, but still has its Spine tree to end and its
  // workspace to remove, which the servers' bounded wait may not cover. Once the conversion lock
  // is free none is under way, and a conversion that takes the lock later sees the stop before it
  // writes anything.
  const std::lock_guard settled(conversionLock_);
}

std::stop_token ConnectorService::stopToken() const {
  const std::lock_guard guard(stopLock_);
  return stopSource_.get_token();
}

}  // namespace connector
