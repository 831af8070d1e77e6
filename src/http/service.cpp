#include "http/service.hpp"

#include <utility>

namespace connector {

ConnectorService::ConnectorService(RouteHandlerFactory makeHandler, std::uint16_t port)
    : makeHandler_(std::move(makeHandler)), plain_(port), secure_(kSecurePort) {}

ConnectorService::~ConnectorService() { stop(); }

bool ConnectorService::start() {
  if (plain_.isRunning()) return true;
  return plain_.start(makeHandler_(*this));
}

void ConnectorService::stop() {
  secure_.stop();
  plain_.stop();
}

}  // namespace connector
